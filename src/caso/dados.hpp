// Case data input, the data listing and the field storage.
#pragma once

#include <string>

#include "base/estado.hpp"

namespace tx {

inline constexpr const char* kSwitchFile = "Tubrix_5p5.in";
inline constexpr const char* kSelectionFile = "Tubrix_5p5.ent";

// Reads the two selection files and the case data file (in the current
// directory), checks every value, and sets nx, ny (fictitious volumes
// added), nxy, it_ini, tcpuo and pi. Throws RunError (status 1) with a
// message naming the file and the item before any output exists.
void read_case_data(State& s);
void write_date_time(State& s);
void write_data_listing(State& s);
void allocate_fields(State& s);

// Bytes of the field arrays for nx x ny volumes (fictitious ones included):
// 8 * (63 * nxy + 7 * ny + 4 * nx).
long long field_storage_bytes(long long nx, long long ny);
// Bytes a run needs beyond the field arrays: the solvers' work vectors, the
// restart record as read back and the second thread's own v system.
long long run_work_bytes(long long nx, long long ny);

// Date and time texts of the listing: "(d/m/yyyy)" and "h:m:s".
std::string date_text(int year, int month, int day);
std::string time_text(int hour, int minute, int second);

}  // namespace tx
