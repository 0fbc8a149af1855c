// Plot-script templates: the scripts that a run rewrites keep the user's
// first lines and get the program's plot lines after them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tx {

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

// The kept lines of the template `script` (one of kTemplates).
int kept_lines(std::string_view script);

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
