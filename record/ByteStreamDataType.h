#pragma once

#include <cstdint>

// The one-byte type code at the start of every record of a ByteStream. The numeric values
// are part of the wire and file format: never reorder or insert codes.
enum ByteStreamDataType : uint8_t {
  dt_none = 0,
  // Scalars, value width from PODSize.
  dt_int8, dt_uint8, dt_int16, dt_uint16, dt_int32, dt_uint32, dt_int64, dt_uint64,
  dt_float, dt_double,
  dt_string,  // 11: text bytes, no prefix, no terminator
  // 12 to 17: codes only, no accessor reads or writes them.
  dt_vec2, dt_vec3, dt_vec4, dt_mat2, dt_mat3, dt_mat4,
  // 18 to 27: number vectors; 28: text vector.
  dt_int8_vector, dt_uint8_vector, dt_int16_vector, dt_uint16_vector, dt_int32_vector,
  dt_uint32_vector, dt_int64_vector, dt_uint64_vector, dt_float_vector, dt_double_vector,
  dt_string_vector,
  // 29 to 34: codes only.
  dt_vec2_vector, dt_vec3_vector, dt_vec4_vector, dt_mat2_vector, dt_mat3_vector,
  dt_mat4_vector,
  // 35 to 44: 2-D number arrays; 45: 2-D text array.
  dt_int8_vector2D, dt_uint8_vector2D, dt_int16_vector2D, dt_uint16_vector2D,
  dt_int32_vector2D, dt_uint32_vector2D, dt_int64_vector2D, dt_uint64_vector2D,
  dt_float_vector2D, dt_double_vector2D,
  dt_string_vector2D,
  // 46 to 51: codes only.
  dt_vec2_vector2D, dt_vec3_vector2D, dt_vec4_vector2D, dt_mat2_vector2D, dt_mat3_vector2D,
  dt_mat4_vector2D,
  dt_buffer,         // 52: raw bytes
  dt_stream,         // 53: the image of a nested container
  dt_stream_vector,  // 54: item list of nested container images
  dt_buffer_vector,  // 55: item list of byte blocks
  dt_table, dt_json,  // 56, 57: codes only
  dt_last             // 58: end of the range, never a valid record type
};

// The names of the 59 codes, in code order ("dt_none" ... "dt_last"), as record dumps print
// them. Index with ByteStreamTypeName() when the code comes from untrusted bytes.
extern const char* const ByteStreamDataStrings[59];

// Value widths in bytes of codes 0 to 10 (dt_none has width 0).
extern const uint64_t PODSize[11];

// True for the codes a record may carry (0 to 57).
inline bool ByteStreamIsValidType(uint8_t code) { return code < dt_last; }

// The name of `code`, or "dt_invalid" for a code outside the table (loaded images are not
// checked for their type codes).
const char* ByteStreamTypeName(uint8_t code);

// The element width of a 1-D number vector (codes 18 to 27) or a 2-D number array (codes 35
// to 44); 0 for every other code.
uint64_t ByteStreamElemWidth(uint8_t code);

// The value size a pre-allocated or in-place slot of `type` gets: the PODSize width for
// codes 1 to 10, `size` for every other code.
inline uint64_t ByteStreamSlotValueSize(uint8_t type, uint64_t size) {
  return type >= dt_int8 && type <= dt_double ? PODSize[type] : size;
}
