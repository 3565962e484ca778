// The record set of a table inside a record container, and the names of a file-backed
// table's two block files. Writers and readers of tables share these names.
//
// Records, in the order the writers add them:
//   "Name"        dt_string         table name
//   "NbCols"      dt_int64          column count
//   "NbRows"      dt_int64          row count (of the view, for a view)
//   "ColNames"    dt_string_vector  column names
//   "ColTypes"    dt_int32_vector   column type ids 0..20 (column_types_lookup)
//   "ColSizes"    dt_int32_vector   column sizes (maximum text length for text columns)
//   "ColFormat"   dt_stream_vector  one ColumnFormat container per column (possibly none);
//                                   an older form is a dt_string_vector of format codes
//   "ViewStart"   dt_int64          views only: first row of the view in the whole table
//   "NbRowsTotal" dt_int64          views only: row count of the whole table
//   "cTile"       dt_buffer         the fixed-width block, column-major for "NbRows" rows
//   "cMint"       dt_buffer         the text block; text offsets count from its first byte
// Strides, offsets, the row stride and the date formats are not stored: readers derive them.
//
// A file-backed table keeps its two blocks, byte for byte with no header and no schema, in
// <directory>/<name>.cTile and <directory>/<name>.cMint.
#ifndef TVX_TABLE_TABLERECORDS_H_
#define TVX_TABLE_TABLERECORDS_H_

constexpr char kKeyName[] = "Name";
constexpr char kKeyNbCols[] = "NbCols";
constexpr char kKeyNbRows[] = "NbRows";
constexpr char kKeyColNames[] = "ColNames";
constexpr char kKeyColTypes[] = "ColTypes";
constexpr char kKeyColSizes[] = "ColSizes";
constexpr char kKeyColFormat[] = "ColFormat";
constexpr char kKeyViewStart[] = "ViewStart";
constexpr char kKeyNbRowsTotal[] = "NbRowsTotal";
constexpr char kKeyTile[] = "cTile";
constexpr char kKeyMint[] = "cMint";

constexpr char kTileFileSuffix[] = ".cTile";
constexpr char kMintFileSuffix[] = ".cMint";

#endif  // TVX_TABLE_TABLERECORDS_H_
