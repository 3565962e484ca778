#include "record/ByteStreamDataType.h"

const char* const ByteStreamDataStrings[59] = {
    "dt_none",          "dt_int8",           "dt_uint8",          "dt_int16",
    "dt_uint16",        "dt_int32",          "dt_uint32",         "dt_int64",
    "dt_uint64",        "dt_float",          "dt_double",         "dt_string",
    "dt_vec2",          "dt_vec3",           "dt_vec4",           "dt_mat2",
    "dt_mat3",          "dt_mat4",           "dt_int8_vector",    "dt_uint8_vector",
    "dt_int16_vector",  "dt_uint16_vector",  "dt_int32_vector",   "dt_uint32_vector",
    "dt_int64_vector",  "dt_uint64_vector",  "dt_float_vector",   "dt_double_vector",
    "dt_string_vector", "dt_vec2_vector",    "dt_vec3_vector",    "dt_vec4_vector",
    "dt_mat2_vector",   "dt_mat3_vector",    "dt_mat4_vector",    "dt_int8_vector2D",
    "dt_uint8_vector2D", "dt_int16_vector2D", "dt_uint16_vector2D", "dt_int32_vector2D",
    "dt_uint32_vector2D", "dt_int64_vector2D", "dt_uint64_vector2D", "dt_float_vector2D",
    "dt_double_vector2D", "dt_string_vector2D", "dt_vec2_vector2D",  "dt_vec3_vector2D",
    "dt_vec4_vector2D", "dt_mat2_vector2D",  "dt_mat3_vector2D",  "dt_mat4_vector2D",
    "dt_buffer",        "dt_stream",         "dt_stream_vector",  "dt_buffer_vector",
    "dt_table",         "dt_json",           "dt_last"};

const uint64_t PODSize[11] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

const char* ByteStreamTypeName(uint8_t code) {
  return code <= dt_last ? ByteStreamDataStrings[code] : "dt_invalid";
}

uint64_t ByteStreamElemWidth(uint8_t code) {
  if (code >= dt_int8_vector && code <= dt_double_vector) {
    return PODSize[code - dt_int8_vector + dt_int8];
  }
  if (code >= dt_int8_vector2D && code <= dt_double_vector2D) {
    return PODSize[code - dt_int8_vector2D + dt_int8];
  }
  return 0;
}
