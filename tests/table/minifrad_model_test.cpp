// Model-based test of the column table: random sequences of row and column operations in
// each storage mode, compared after every step with the plain reference model and
// validated. In the container mode the container's own records must describe the same
// table after every step; in the file mode the block files must hold exactly the blocks.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "record/ByteStream.h"
#include "support/TempDir.h"
#include "table/MiniFrad.h"
#include "table/table_model_util.h"

namespace {

using tablemodel::ExpectSameTable;
using tablemodel::RandomCell;
using tablemodel::RefCell;
using tablemodel::RefColumn;
using tablemodel::RefTable;

enum class Storage { kHeap, kFiles, kContainer };

class ModelRun {
 public:
  ModelRun(Storage storage, uint64_t seed) : storage_(storage), rng_(seed) {}

  void Run(int steps) {
    Start();
    if (HasFailure()) return;
    for (int step = 0; step < steps; ++step) {
      const std::string context = Step();
      ExpectSameTable(table_, ref_, context);
      CheckStore(context);
      if (HasFailure()) return;
    }
  }

 private:
  static bool HasFailure() { return ::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure(); }

  void Start() {
    std::vector<std::string> names;
    std::vector<int32_t> types;
    std::vector<int32_t> sizes;
    const int cols = 1 + static_cast<int>(rng_() % 6);
    AppendRefColumn(2);  // rows need at least one column with cells
    for (int c = 1; c < cols; ++c) AppendRefColumn(tablemodel::RandomType(rng_));
    for (const RefColumn& col : ref_.cols) {
      names.push_back(col.name);
      types.push_back(col.type);
      sizes.push_back(col.size);
    }
    switch (storage_) {
      case Storage::kHeap:
        table_.New("model");
        ASSERT_EQ(table_.Mode, 1u);
        break;
      case Storage::kFiles:
        table_.New("model", dir_.Path());
        ASSERT_EQ(table_.Mode, 3u);
        break;
      case Storage::kContainer:
        table_.New("model");
        ASSERT_TRUE(stream_.PreAllocate({}, ""));
        break;
    }
    ASSERT_TRUE(table_.Set(0, names, types, sizes));
    if (storage_ == Storage::kContainer) {
      ASSERT_TRUE(table_.LinkToByteStream(stream_, "model"));
      ASSERT_EQ(table_.Mode, 2u);
      ASSERT_FALSE(table_.Locked);
    }
  }

  RefColumn& AppendRefColumn(int32_t type) {
    RefColumn col;
    col.name = "c" + std::to_string(nextName_++);
    col.type = type;
    if (column_types_lookup[type].StorageId == st_text) {
      const int32_t sizes[] = {3, 10, 100, static_cast<int32_t>(column_types_lookup[type].ByteSize)};
      col.size = sizes[rng_() % 4];
    } else {
      col.size = static_cast<int32_t>(column_types_lookup[type].ByteSize);
    }
    col.cells.assign(static_cast<size_t>(ref_.rows), RefCell());
    ref_.cols.push_back(col);
    return ref_.cols.back();
  }

  std::string Step() {
    const int pick = static_cast<int>(rng_() % 100);
    if (pick < 55) return AddRow();
    if (pick < 61) {
      const int64_t n = static_cast<int64_t>(rng_() % 3);
      EXPECT_TRUE(table_.DecreaseRows(n));
      ref_.DropLastRows(n);
      return "DecreaseRows";
    }
    if (pick < 67) {
      std::vector<int64_t> indices = {-1, ref_.rows, ref_.rows + 7};
      for (int i = 0; i < 3 && ref_.rows > 0; ++i) {
        indices.push_back(static_cast<int64_t>(rng_() % ref_.rows));
      }
      EXPECT_TRUE(table_.DeleteRows(indices));
      ref_.DeleteRows(indices);
      return "DeleteRows";
    }
    if (pick < 72 && ref_.cols.size() > 1) {
      std::vector<int64_t> indices = {static_cast<int64_t>(rng_() % ref_.cols.size())};
      if (rng_() & 1) indices.push_back(static_cast<int64_t>(rng_() % ref_.cols.size()));
      MiniFrad::DedupVector(indices);
      if (!KeepsCells(indices)) return AddRow();
      EXPECT_TRUE(table_.DeleteColumns(indices));
      ref_.DeleteColumns(indices);
      return "DeleteColumns";
    }
    if (ref_.cols.size() < 12 && pick < 78) return AddTextColumn();
    if (ref_.cols.size() < 12 && pick < 82) return AddDatetimeColumn();
    if (ref_.cols.size() < 12 && pick < 87) return AddNumberColumn();
    if (pick < 89) {
      EXPECT_TRUE(table_.DeleteAllRows());
      ref_.Clear();
      return "DeleteAllRows";
    }
    if (pick < 94) {
      const int64_t n = static_cast<int64_t>(rng_() % (ref_.rows / 2 + 3)) - 1;
      EXPECT_TRUE(table_.DropFirstRows(n));
      std::vector<int64_t> first;
      for (int64_t r = 0; r < n; ++r) first.push_back(r);
      ref_.DeleteRows(first);
      return "DropFirstRows";
    }
    return AddRow();
  }

  // Deleting `indices` leaves a column whose cells take bytes.
  bool KeepsCells(const std::vector<int64_t>& indices) const {
    for (size_t c = 0; c < ref_.cols.size(); ++c) {
      const bool deleted =
          std::find(indices.begin(), indices.end(), static_cast<int64_t>(c)) != indices.end();
      if (!deleted && column_types_lookup[ref_.cols[c].type].ByteSize > 0) return true;
    }
    return false;
  }

  std::string AddRow() {
    std::vector<std::string> texts;
    std::vector<RefCell> cells;
    const size_t given = (rng_() % 5 == 0) ? rng_() % (ref_.cols.size() + 1) : ref_.cols.size();
    for (size_t c = 0; c < ref_.cols.size(); ++c) {
      if (c < given) {
        auto cell = RandomCell(rng_, ref_.cols[c]);
        texts.push_back(cell.first);
        cells.push_back(cell.second);
      } else {
        cells.push_back(tablemodel::MissingCell(ref_.cols[c]));
      }
    }
    if (given == ref_.cols.size() && rng_() % 10 == 0) texts.push_back("extra text");
    EXPECT_TRUE(table_.AddRow(texts));
    ref_.AddRow(cells);
    return "AddRow";
  }

  std::string AddTextColumn() {
    RefColumn& col = AppendRefColumn(6);
    const bool nullFill = rng_() & 1;
    std::vector<std::string> texts;
    const int64_t n = static_cast<int64_t>(rng_() % (ref_.rows + 2));
    for (int64_t r = 0; r < n; ++r) {
      auto cell = RandomCell(rng_, col);
      texts.push_back(cell.first);
      if (r < ref_.rows) col.cells[r] = cell.second;
    }
    for (int64_t r = n; r < ref_.rows; ++r) {
      col.cells[r] = nullFill ? tablemodel::MissingCell(col) : RefCell{false, 0, ""};
    }
    EXPECT_TRUE(table_.AddColumn(col.name, texts, nullFill, col.size) || ref_.rows == 0);
    return "AddColumn";
  }

  std::string AddDatetimeColumn() {
    RefColumn& col = AppendRefColumn(kDatetimeTypeId);
    std::vector<int64_t> values;
    values.reserve(1);  // a non-null pointer even for no values
    const int64_t n = static_cast<int64_t>(rng_() % (ref_.rows + 2));
    for (int64_t r = 0; r < n; ++r) {
      values.push_back(static_cast<int64_t>(rng_()));
      if (r < ref_.rows) col.cells[r] = RefCell{values.back() == INT64_MIN, static_cast<uint64_t>(values.back()), ""};
    }
    EXPECT_TRUE(table_.AddColumnDT(col.name, values.data(), n, "") || ref_.rows == 0);
    return "AddColumnDT";
  }

  std::string AddNumberColumn() {
    const int32_t types[] = {2, 3, 4, 5, 9, 1};
    RefColumn& col = AppendRefColumn(types[rng_() % 6]);
    char* cells = table_.NewColumn(col.name, col.type, 0);
    EXPECT_EQ(cells == nullptr, ref_.rows == 0);
    const uint32_t width = column_types_lookup[col.type].ByteSize;
    for (int64_t r = 0; r < ref_.rows && cells != nullptr; ++r) {
      const uint64_t bits = rng_() & (width == 4 ? 0xFFFFFFFFull : ~0ull);
      std::memcpy(cells + width * r, &bits, width);
      col.cells[r] = RefCell{false, bits, ""};
    }
    return "NewColumn";
  }

  // The store behind the table agrees with it.
  void CheckStore(const std::string& context) {
    SCOPED_TRACE(context);
    if (storage_ == Storage::kFiles) {
      const auto tile = std::filesystem::file_size(dir_.File("model.cTile"));
      const auto mint = std::filesystem::file_size(dir_.File("model.cMint"));
      // A mapped file is never empty: an empty block keeps one spare byte.
      EXPECT_EQ(tile, std::max<uint64_t>(table_.cTileSize, 1));
      EXPECT_EQ(mint, std::max<uint64_t>(table_.cMintSize, 1));
    } else if (storage_ == Storage::kContainer) {
      MiniFrad view;
      ASSERT_TRUE(view.Load(&stream_, true)) << "the container's records fell out of step";
      ExpectSameTable(view, ref_, context + " (container records)");
    }
  }

  Storage storage_;
  std::mt19937_64 rng_;
  testsupport::TempDir dir_;
  ByteStream stream_{false};
  MiniFrad table_;
  RefTable ref_;
  int nextName_ = 0;
};

class MiniFradModel : public ::testing::TestWithParam<Storage> {};

TEST_P(MiniFradModel, RandomOperationsMatchTheReference) {
  for (uint64_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ModelRun(GetParam(), seed).Run(250);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(AllStorageModes, MiniFradModel,
                         ::testing::Values(Storage::kHeap, Storage::kFiles, Storage::kContainer),
                         [](const ::testing::TestParamInfo<Storage>& info) {
                           switch (info.param) {
                             case Storage::kHeap: return std::string("Heap");
                             case Storage::kFiles: return std::string("Files");
                             default: return std::string("Container");
                           }
                         });

}  // namespace
