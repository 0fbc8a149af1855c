// The nozzle wall of a wall file: a conical nozzle with circular arcs
// ('conica'), a table of points joined by a spline under tension ('pontos')
// or a thrust-optimised bell in its parabolic approximation ('sino'); its
// reading, checks and radius along x.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "base/estado.hpp"

namespace tx {

// The parameters of a 'conica' or 'sino' wall, in the order of the file.
struct WallParam {
  const char* name;
  const char* unit;     // "m", "graus" or "adimensional"
  const char* meaning;  // as the listing and the documentation say it
};
inline constexpr int kConicalParamCount = 9;
extern const std::array<WallParam, kConicalParamCount> kConicalParams;
// The bell's: the first seven are the conical wall's, then tn, te, rex, Lf.
inline constexpr int kBellParamCount = 11;
extern const std::array<WallParam, kBellParamCount> kBellParams;

// Index of a 'conica' parameter by name, or -1.
int conical_param_index(const std::string& name);
// Index of a 'sino' parameter by name, or -1.
int bell_param_index(const std::string& name);

// The parameters of a form given by parameters ('conica', 'sino'), empty
// for the others; the form's name in apostrophes and its description, as
// a wall file's first line holds them; a wall's values, in the file's order.
std::span<const WallParam> form_params(WallForm f);
std::string form_name(WallForm f);
std::string form_heading(WallForm f);
std::vector<double> wall_param_values(const Wall& w);
// Index of a parameter of the form by name, or -1.
int form_param_index(WallForm f, const std::string& name);

// The lines of a wall file as bytes (a byte-order mark and CR dropped);
// read as every input text file is (arquivos/leitura.hpp), at most 4 MiB.
std::vector<std::string> wall_file_lines(const std::string& path);

// Reads and checks a wall file (Latin-1 or UTF-8): its first value is the
// form in apostrophes, then one value (or one x r pair) first on each line,
// any description after it. Throws RunError naming the file and the line or
// the parameter.
Wall read_wall_file(const std::string& path);

// The conical wall of these parameters (angles in degrees); `file` names the
// file in the messages of a wall that cannot be built.
Wall conical_wall(const std::array<double, kConicalParamCount>& p, const std::string& file);

// The bell of these parameters (angles in degrees): the conical wall's inlet,
// convergent and throat arcs, then a quadratic Bezier from the end of the
// downstream arc at angle tn to the exit at angle te.
Wall bell_wall(const std::array<double, kBellParamCount>& p, const std::string& file);

// The wall through the points (x from 0, strictly increasing; `line` of each
// point for the messages).
Wall points_wall(const std::vector<double>& x, const std::vector<double>& r,
                 const std::vector<int>& line, const std::string& file);

// Radius (half-height in planar flow) of the wall at x, 0 <= x <= x_exit.
double wall_radius(const Wall& w, double x);
// Its slope dr/dx.
double wall_slope(const Wall& w, double x);

// The listing's lines after "parede = <file>": the form and its values.
std::vector<std::string> wall_description(const Wall& w);

// Whether two walls are the same curve (same form and values).
bool same_wall(const Wall& a, const Wall& b);

}  // namespace tx
