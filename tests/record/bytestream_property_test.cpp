// Random containers against a model: every add kind, replacements that change type and
// size, nested containers. The image survives load (copying and viewing) and image again
// byte for byte, every getter returns what was added, and the contiguous modes (buffer and
// mapped file) produce the same image as separate records after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>

#include "bytestream_test_util.h"
#include "record/ByteStream.h"
#include "support/TempDir.h"

using namespace bstest;

namespace {

using Check = std::function<void(const ByteStream&)>;

// One random add, applied identically to every container it is given, with the check that
// the getters see it.
struct Step {
  std::string key;
  std::function<void(ByteStream&)> apply;
  Check check;
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}

  uint64_t Below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(rng_); }

  std::string Key() {
    static const char* kKeys[] = {"", "a", "Func", "KeyIndex", "Data", "x9", "long key with spaces",
                                  "\xff\x01", "cTile", "cMint", "NbRows", "z"};
    return kKeys[Below(std::size(kKeys))];
  }

  std::string Text(uint64_t maxLen = 40) {
    std::string s(Below(maxLen + 1), '\0');
    for (auto& c : s) c = static_cast<char>(Below(256));
    return s;
  }

  template <class T>
  T Number() {
    if constexpr (std::is_floating_point_v<T>) {
      return static_cast<T>(std::uniform_real_distribution<double>(-1e6, 1e6)(rng_));
    } else {
      return static_cast<T>(rng_());
    }
  }

  template <class T>
  std::vector<T> Numbers(uint64_t maxLen = 20) {
    std::vector<T> v(Below(maxLen + 1));
    for (auto& x : v) x = Number<T>();
    return v;
  }

  template <class T>
  std::vector<std::vector<T>> Rows() {
    std::vector<std::vector<T>> rows(Below(5));
    for (auto& r : rows) r = Numbers<T>(6);
    return rows;
  }

  std::vector<std::string> Texts(uint64_t maxLen = 8) {
    std::vector<std::string> v(Below(maxLen + 1));
    for (auto& s : v) s = Text(10);
    return v;
  }

  // A small nested container built from a few random steps (depth-limited).
  ByteStream Child(int depth) {
    ByteStream child;
    uint64_t n = Below(4);
    for (uint64_t i = 0; i < n; ++i) Next(depth + 1).apply(child);
    return child;
  }

  Step Next(int depth = 0);

 private:
  template <class T>
  Step ScalarStep(const std::string& key, void (ByteStream::*add)(const std::string&, T),
                  bool (ByteStream::*get)(const std::string&, T&) const) {
    T v = Number<T>();
    return {key, [=](ByteStream& bs) { (bs.*add)(key, v); },
            [=](const ByteStream& bs) {
              T got{};
              ASSERT_TRUE((bs.*get)(key, got)) << key;
              EXPECT_EQ(std::memcmp(&got, &v, sizeof v), 0) << key;
            }};
  }

  template <class V>
  Step VectorStep(const std::string& key, V v, void (ByteStream::*add)(const std::string&, const V&),
                  bool (ByteStream::*get)(const std::string&, V&) const) {
    return {key, [=](ByteStream& bs) { (bs.*add)(key, v); },
            [=](const ByteStream& bs) {
              V got;
              ASSERT_TRUE((bs.*get)(key, got)) << key;
              EXPECT_EQ(got, v) << key;
            }};
  }

  std::mt19937_64 rng_;
};

Step Generator::Next(int depth) {
  std::string k = Key();
  switch (Below(depth < 2 ? 30 : 27)) {
    case 0: return ScalarStep<int8_t>(k, &ByteStream::AddInt8, &ByteStream::GetInt8);
    case 1: return ScalarStep<uint8_t>(k, &ByteStream::AddUInt8, &ByteStream::GetUInt8);
    case 2: return ScalarStep<int16_t>(k, &ByteStream::AddInt16, &ByteStream::GetInt16);
    case 3: return ScalarStep<uint16_t>(k, &ByteStream::AddUInt16, &ByteStream::GetUInt16);
    case 4: return ScalarStep<int32_t>(k, &ByteStream::AddInt32, &ByteStream::GetInt32);
    case 5: return ScalarStep<uint32_t>(k, &ByteStream::AddUInt32, &ByteStream::GetUInt32);
    case 6: return ScalarStep<int64_t>(k, &ByteStream::AddInt64, &ByteStream::GetInt64);
    case 7: return ScalarStep<uint64_t>(k, &ByteStream::AddUInt64, &ByteStream::GetUInt64);
    case 8: return ScalarStep<float>(k, &ByteStream::AddFloat, &ByteStream::GetFloat);
    case 9: return ScalarStep<double>(k, &ByteStream::AddDouble, &ByteStream::GetDouble);
    case 10: return ScalarStep<char>(k, &ByteStream::AddChar, &ByteStream::GetChar);
    case 11: {
      bool v = Below(2) == 1;
      return {k, [=](ByteStream& bs) { bs.AddBool(k, v); },
              [=](const ByteStream& bs) {
                bool got = !v;
                ASSERT_TRUE(bs.GetBool(k, got));
                EXPECT_EQ(got, v);
              }};
    }
    case 12: {
      std::string v = Text();
      return {k, [=](ByteStream& bs) { bs.AddString(k, v); },
              [=](const ByteStream& bs) {
                std::string got = "old";
                ASSERT_TRUE(bs.GetString(k, got));
                EXPECT_EQ(got, v);
              }};
    }
    case 13: {  // the three buffer adds store the same record
      std::string v = Text(100);
      uint64_t how = Below(3);
      return {k,
              [=](ByteStream& bs) {
                if (how == 0) {
                  bs.AddBuffer(k, v.data(), v.size());
                } else if (how == 1) {
                  AppCore::CharBuffer b(v.size());
                  if (!v.empty()) std::memcpy(b.data, v.data(), v.size());
                  bs.AddBuffer(k, b);
                } else {
                  char* p = bs.AddBuffer(k, static_cast<uint64_t>(v.size()));
                  ASSERT_NE(p, nullptr);
                  if (!v.empty()) std::memcpy(p, v.data(), v.size());
                }
              },
              [=](const ByteStream& bs) {
                uint64_t size = 99;
                char* p = bs.GetBufferPtr(k, size);
                EXPECT_EQ(size, v.size());
                if (v.empty()) {
                  EXPECT_EQ(p, nullptr);
                  AppCore::CharBuffer b;
                  EXPECT_FALSE(bs.GetBuffer(k, b));
                } else {
                  ASSERT_NE(p, nullptr);
                  EXPECT_EQ(std::string(p, size), v);
                  AppCore::CharBuffer b;
                  ASSERT_TRUE(bs.GetBuffer(k, b));
                  EXPECT_EQ(std::string(b.data, b.size), v);
                }
              }};
    }
    case 14: return VectorStep(k, Numbers<int8_t>(), &ByteStream::AddInt8Vector, &ByteStream::GetInt8Vector);
    case 15: return VectorStep(k, Numbers<uint8_t>(), &ByteStream::AddUInt8Vector, &ByteStream::GetUInt8Vector);
    case 16: return VectorStep(k, Numbers<int16_t>(), &ByteStream::AddInt16Vector, &ByteStream::GetInt16Vector);
    case 17: return VectorStep(k, Numbers<uint16_t>(), &ByteStream::AddUInt16Vector, &ByteStream::GetUInt16Vector);
    case 18: return VectorStep(k, Numbers<int32_t>(), &ByteStream::AddInt32Vector, &ByteStream::GetInt32Vector);
    case 19: return VectorStep(k, Numbers<uint32_t>(), &ByteStream::AddUInt32Vector, &ByteStream::GetUInt32Vector);
    case 20: return VectorStep(k, Numbers<int64_t>(), &ByteStream::AddInt64Vector, &ByteStream::GetInt64Vector);
    case 21: return VectorStep(k, Numbers<uint64_t>(), &ByteStream::AddUInt64Vector, &ByteStream::GetUInt64Vector);
    case 22: return VectorStep(k, Numbers<float>(), &ByteStream::AddFloatVector, &ByteStream::GetFloatVector);
    case 23: return VectorStep(k, Numbers<double>(), &ByteStream::AddDoubleVector, &ByteStream::GetDoubleVector);
    case 24: return VectorStep(k, Texts(), &ByteStream::AddStringVector, &ByteStream::GetStringVector);
    case 25: {
      switch (Below(6)) {
        case 0: return VectorStep(k, Rows<int8_t>(), &ByteStream::AddInt8Vector2D, &ByteStream::GetInt8Vector2D);
        case 1: return VectorStep(k, Rows<uint16_t>(), &ByteStream::AddUInt16Vector2D, &ByteStream::GetUInt16Vector2D);
        case 2: return VectorStep(k, Rows<int32_t>(), &ByteStream::AddInt32Vector2D, &ByteStream::GetInt32Vector2D);
        case 3: return VectorStep(k, Rows<uint64_t>(), &ByteStream::AddUInt64Vector2D, &ByteStream::GetUInt64Vector2D);
        case 4: return VectorStep(k, Rows<float>(), &ByteStream::AddFloatVector2D, &ByteStream::GetFloatVector2D);
        default: {
          std::vector<std::vector<std::string>> rows(Below(4));
          for (auto& r : rows) r = Texts(4);
          return VectorStep(k, rows, &ByteStream::AddStringVector2D, &ByteStream::GetStringVector2D);
        }
      }
    }
    case 26: {
      std::vector<std::string> items = Texts(5);
      return {k,
              [=](ByteStream& bs) {
                std::vector<char*> data;
                std::vector<uint64_t> sizes;
                for (const auto& s : items) {
                  data.push_back(s.empty() ? nullptr : const_cast<char*>(s.data()));
                  sizes.push_back(s.size());
                }
                bs.AddBufferVector(k, data, sizes);
              },
              [=](const ByteStream& bs) {
                std::vector<char*> data;
                std::vector<uint64_t> sizes;
                ASSERT_TRUE(bs.GetBufferVector(k, data, sizes));
                ASSERT_EQ(data.size(), items.size());
                std::vector<AppCore::CharBuffer> copies;
                ASSERT_TRUE(bs.GetBufferVector(k, copies));
                for (size_t i = 0; i < items.size(); ++i) {
                  EXPECT_EQ(sizes[i], items[i].size());
                  EXPECT_EQ(data[i] == nullptr, items[i].empty());
                  if (data[i] != nullptr) {
                    EXPECT_EQ(std::string(data[i], sizes[i]), items[i]);
                  }
                  EXPECT_EQ(std::string(copies[i].data, copies[i].size), items[i]);
                }
              }};
    }
    case 27:
    case 28: {  // a nested container
      auto child = std::make_shared<ByteStream>(Child(depth));
      auto image = std::make_shared<Bytes>(ImageOf(*child));
      return {k, [=](ByteStream& bs) { bs.AddStream(k, *child); },
              [=](const ByteStream& bs) {
                for (bool view : {false, true}) {
                  ByteStream got(view);
                  ASSERT_TRUE(bs.GetStream(k, got));
                  EXPECT_EQ(ImageOf(got), *image);
                }
              }};
    }
    default: {  // a vector of nested containers
      auto children = std::make_shared<std::vector<ByteStream>>();
      auto images = std::make_shared<std::vector<Bytes>>();
      for (uint64_t n = Below(4); n > 0; --n) {
        children->push_back(Child(depth));
        images->push_back(ImageOf(children->back()));
      }
      return {k, [=](ByteStream& bs) { bs.AddStreamVector(k, *children); },
              [=](const ByteStream& bs) {
                std::vector<ByteStream> got;
                ASSERT_TRUE(bs.GetStreamVector(k, got));
                ASSERT_EQ(got.size(), images->size());
                for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(ImageOf(got[i]), (*images)[i]);
              }};
    }
  }
}

void CheckAll(const std::map<std::string, Check>& model, const ByteStream& bs) {
  for (const auto& [key, check] : model) check(bs);
}

}  // namespace

TEST(ByteStreamProperty, ImageLoadImageIsIdenticalAndGettersSeeEveryAdd) {
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator gen(seed);
    ByteStream bs;
    std::map<std::string, Check> model;  // the last add of each key
    std::vector<std::string> order;      // first-add order of the keys
    for (uint64_t n = gen.Below(25); n > 0; --n) {
      Step step = gen.Next();
      step.apply(bs);
      if (!model.count(step.key)) order.push_back(step.key);
      model[step.key] = step.check;
    }
    ASSERT_EQ(bs.records.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(bs.GetRecordKey(i), order[i]);
    CheckAll(model, bs);

    Bytes image = ImageOf(bs);
    ASSERT_EQ(image.size(), bs.GetStreamSize());
    ASSERT_TRUE(ByteStream::ValidateStream(image.data(), image.size()));
    for (bool view : {false, true}) {
      ByteStream loaded(view);
      ASSERT_TRUE(loaded.LoadStream(image.data(), image.size()));
      EXPECT_EQ(ImageOf(loaded), image);
      CheckAll(model, loaded);
      ByteStream copy = loaded.GetCopy();
      EXPECT_EQ(ImageOf(copy), image);
      EXPECT_FALSE(copy.readOnly);
    }
  }
}

TEST(ByteStreamProperty, ContiguousModesMatchSeparateRecordsAfterEveryStep) {
  testsupport::TempDir dir;
  for (uint64_t seed = 100; seed < 130; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator gen(seed);
    ByteStream separate, inBuffer, inFile;
    std::string path = dir.File("mode3_" + std::to_string(seed));
    ASSERT_TRUE(inBuffer.PreAllocate({}, ""));
    ASSERT_TRUE(inFile.PreAllocate({}, path));
    ASSERT_EQ(inBuffer.mode, 2u);
    ASSERT_EQ(inFile.mode, 3u);
    std::map<std::string, Check> model;
    for (uint64_t n = 0; n < 30; ++n) {
      Step step = gen.Next();
      for (ByteStream* bs : {&separate, &inBuffer, &inFile}) step.apply(*bs);
      model[step.key] = step.check;
      Bytes image = ImageOf(separate);
      ASSERT_EQ(ImageOf(inBuffer), image) << "step " << n;
      ASSERT_EQ(ImageOf(inFile), image) << "step " << n;
      ASSERT_EQ(FileBytes(path), image) << "step " << n;  // the mapped file is the image
      uint64_t offset = gen.Below(image.size()), length = gen.Below(image.size() + 8);
      for (ByteStream* bs : {&separate, &inBuffer, &inFile}) {
        Bytes range(length, '#');
        bs->GetStreamView(range.data(), offset, length);
        uint64_t inside = std::min<uint64_t>(length, image.size() - offset);
        ASSERT_EQ(Bytes(range.begin(), range.begin() + inside),
                  Bytes(image.begin() + offset, image.begin() + offset + inside));
      }
      ASSERT_EQ(inBuffer.mode, 2u);
      ASSERT_EQ(inFile.mode, 3u);
    }
    for (ByteStream* bs : {&separate, &inBuffer, &inFile}) CheckAll(model, *bs);
    // The file reopens as the same container.
    inFile.ClearAll();
    ByteStream reopened;
    ASSERT_TRUE(reopened.Open(path));
    EXPECT_EQ(ImageOf(reopened), ImageOf(separate));
    CheckAll(model, reopened);
  }
}
