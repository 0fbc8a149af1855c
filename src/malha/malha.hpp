// Nozzle grid, its metrics and radii, and the grid output files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/estado.hpp"
#include "base/texto.hpp"

namespace tx {

void generate_boundary_nodes(State& s);
void generate_interior_nodes(State& s);
void write_nozzle_parameters(State& s);
void compute_centres(State& s);
void compute_metrics(State& s);
void compute_radii(State& s);

// Measure of the nozzle cross-section whose wall lies at height h, in the
// units of the mass-flow sums (2*pi*sum of r*rho*U*dy): pi*h^2 around the
// axis; in planar flow (radii 1) those sums give 2*pi per unit depth, so the
// section is 2*pi*h.
double section_area(const CaseData& c, double h);

void write_grid_outputs(State& s);
void write_boundary_files(State& s);
void write_domain_script(State& s);
void write_grid_file(State& s);
void write_grid_script(State& s);

// Plot-script templates: a script keeps its first `kept` lines (the user's
// settings) and gets the program's plot lines after them.
struct ScriptTemplate {
  const char* name;
  int kept;
};
inline constexpr ScriptTemplate kTemplates[] = {
    {"Tubrix_5p5_dominio.gnu", 6},          {"Tubrix_5p5_malha.gnu", 5},
    {"Tubrix_5p5_velocidade_u.gnu", 6},     {"Tubrix_5p5_velocidade_v.gnu", 6},
    {"Tubrix_5p5_pressao.gnu", 6},          {"Tubrix_5p5_temperatura.gnu", 6},
    {"Tubrix_5p5_massa_especifica.gnu", 6}, {"Tubrix_5p5_Mach.gnu", 6},
    {"Tubrix_5p5_empuxo.gnu", 6},           {"Tubrix_5p5_residuo.gnu", 6},
    {"Tubrix_5p5_campo.gnu", 6},
};

// Checks every template without writing anything: the one in the current
// directory (a readable file with at least its kept lines), or, when it is
// missing, the one in `template_dir`. Throws RunError naming the template.
// Returns the names that must be copied in.
std::vector<std::string> check_templates(const std::string& template_dir);
// Copies those templates in (never over an existing file); on failure
// removes the copies it made and throws RunError.
void copy_templates(const std::string& template_dir, const std::vector<std::string>& names);
// check_templates, then copy_templates.
void ensure_templates(const std::string& template_dir);

// The two closing lines of a script: "set title '<title>'" and "replot";
// `title` is used as given (callers choose how it is trimmed).
std::string script_title_lines(std::string_view title);

// Rewrites a script: keeps its first `kept` lines as they are (bytes and line
// ends), then appends `tail` (already formatted records). Throws RunError
// naming the script if it has fewer than `kept` lines.
void rewrite_script(const std::string& name, int kept, const std::string& tail);

}  // namespace tx
