#pragma once

// Vehicle: one car of the traffic simulation, a plain record that VehicleManager reads and
// writes. Every reference is an index into the road network (SimData): road, lane (global
// lane id), node, approach and path; never a pointer.

#include <cstdint>

struct Vehicle {
  int32_t road = 0;        // current road; negative: the car is inactive and skipped
  float dist = 0;          // along the current lane, or along the junction path
  int32_t approach = 0;    // approach index of `road` at the coming junction
  int32_t lane = 0;        // global lane id on `road`
  float lcProgress = -1;   // lane change progress 0..1; negative when none is under way
  int32_t targetLane = -1; // the lane the chosen junction path starts from
  char turn = ' ';         // 'L', 'S', 'R' or 'U' of the chosen path
  float speed = 10.0f;     // map units per time unit
  int32_t nextRoad = 0;    // road the chosen path leads to
  int32_t nextLane = 0;    // global lane id on `nextRoad` where the path ends
  int32_t inIntersection = 0;  // 1 while on a junction path
  int32_t node = 0;        // the coming (or current) junction
  int32_t path = 0;        // path id at `node`
  int32_t needNextRoad = 1;    // 1 when a route choice is due
  int32_t cell = -1;       // occupancy cell on the lane, or on the path in a junction
  float calm = 0;          // temperament in [0, 1]; fixed for the car's life
  int32_t carAhead = 0;    // 1 once a car was seen ahead; cleared when accelerating
  int32_t go = 0;          // 1 once a car in a junction is released
  float x = 0;
  float y = 0;
};
