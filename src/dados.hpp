// Case data input, the data listing and the field storage.
#pragma once

#include "estado.hpp"

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

// Date and time texts of the listing: "(d/m/yyyy)" and "h:m:s".
std::string date_text(int year, int month, int day);
std::string time_text(int hour, int minute, int second);

}  // namespace tx
