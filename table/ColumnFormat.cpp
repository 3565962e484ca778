#include "table/ColumnFormat.h"

#include "record/ByteStream.h"

ByteStream ColumnFormat::ToByteStream() const {
  ByteStream bs(false);
  bs.AddString("Code", Code);
  bs.AddString("Formula", Formula);
  bs.AddInt32Vector("Theme", Theme);
  bs.AddString("Reference", Reference);
  bs.AddString("DisplayName", DisplayName);
  return bs;
}
