#pragma once

// The stand-in's record of received frames, for runs where the test cannot share the
// server's memory (the program inside a private network namespace). One entry per frame:
//   8 bytes  payload length L, unsigned little-endian
//   1 byte   flags: bit 0 the frame was compressed (RSV1), bit 1 it was binary
//   8 bytes  connection number, unsigned little-endian
//   L bytes  the payload as delivered (after decompression)
// Entries are appended and flushed one by one, so a reader sees whole entries only, up to
// a possibly incomplete last one, which it ignores.

#include <cstdio>
#include <string>
#include <vector>

#include "tools/standin/StandInServer.h"

namespace standin {

// Decodes `r->payload` into r's message (and table, when it carries "Data").
void DecodeReceived(Received* r);

// Appends one entry to `file` and flushes it; false on a write error.
bool AppendRecord(std::FILE* file, const Received& r);

// Every whole entry of the record at `path`, decoded, numbered from 1; empty when the file
// does not exist.
std::vector<Received> ReadRecordFile(const std::string& path);

}  // namespace standin
