#include "resultados/mapa_campo.hpp"

#include <algorithm>
#include <string>

#include "graficos/graficos.hpp"
#include "graficos/modelos.hpp"
#include "arquivos/layout.hpp"
#include "malha/malha.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

// Along a line of nk points: both ends and every multiple of w_g, as the
// other plot files thin their lines.
bool selected(int k, int nk, int w_g) { return k == 1 || k == nk || k % w_g == 0; }

}  // namespace

void write_field_map(State& s) {
  const CaseData& c = s.c;
  const Fields& f = s.f;
  const int nx = c.nx, ny = c.ny;
  const std::string data = trimmed(c.caso) + kFieldMapSuffix;
  {
    TextFile out;
    out.open(data);
    out.write("('### CAMPO: número de Mach e pressão ###',/,"
              "'#',T4,'x (m)',T19,'y (m)',T34,'M',T49,'p (Pa)')", {});
    // Block 0: every volume centre, fictitious ones included: after the
    // results step they lie on the boundary and hold its values, so the
    // map covers the nozzle up to the wall, the axis, the inlet and the exit.
    // One line of constant i per block, as the plotting program scans a grid.
    for (int i = 1; i <= nx; ++i) {
      if (!selected(i, nx, c.w_g)) continue;
      out.write("()");
      for (int j = 1; j <= ny; ++j) {
        if (!selected(j, ny, c.w_g)) continue;
        const int np = i + (j - 1) * nx;
        out.write("(4(1P,E15.6))", {f.xp(np), f.yp(np), f.M(np), f.p(np)});
      }
    }
    // Blocks 1 and 2: the wall and the axis (or symmetry plane) nodes.
    for (const int j : {ny - 1, 1}) {
      out.write("(/)");
      for (int i = 1; i <= nx - 1; ++i) {
        const int np = i + (j - 1) * nx;
        out.write("(2(1P,E15.6))", {f.X(np), f.Y(np)});
      }
    }
    out.close();
  }

  const std::string q = gnuplot_quoted(data);
  const std::string axis = c.coord == 1 ? "eixo" : "simetria";  // the south boundary
  // The sonic line is contoured apart into a data block first, so that it
  // gets a style of its own; the isolines carry their values as labels.
  // The template's ranges frame the built-in nozzle; a wall file's nozzle
  // gets ranges of its own, with the same margins.
  std::string tail;
  if (!c.parede.empty()) {
    const double L = s.wall.x_exit;
    const double H = std::max(s.wall.r_inlet, s.wall.r_exit);
    tail = format_record("('set xrange [',1P,E12.5,':',1P,E12.5,']; set yrange [',1P,E12.5,"
                         "':',1P,E12.5,']')",
                         {-0.02 * L, 1.02 * L, -0.04 * H / 0.75, 0.79 * H / 0.75});
  }
  tail += format_record(
      "('set contour base; unset surface; set cntrparam levels discrete 1',/,"
      "'set table $sonica; splot ''',A,''' index 0 using 1:2:3; unset table',/,"
      "'set surface; set cntrparam levels discrete 0.5, 1.5, 2, 2.5, 3')",
      {q});
  tail += format_record(
      "('set multiplot layout 2,1 title ''',A,''' margins 0.08, 0.8, 0.1, 0.92 spacing 0.15')",
      {gnuplot_quoted(trimmed(c.titulo))});
  tail += format_record(
      "('set title ''número de Mach''; set cblabel ''M''; set key at screen 0.84, 0.91 left top')",
      {});
  tail += format_record(
      "('splot ''',A,''' index 0 using 1:2:3 with pm3d notitle, ',"
      "''''' index 0 using 1:2:3 with lines nosurface lc ''white'' notitle, ',"
      "''''' index 0 using 1:2:3 with labels nosurface notitle, ',"
      "'$sonica using 1:2:(0) with lines nocontours lc ''black'' lw 2.5 title ''M = 1'', ',"
      "'''',A,''' index 1 using 1:2:(0) with lines nocontours lc ''black'' lw 2 title ''parede'', ',"
      "''''' index 2 using 1:2:(0) with lines nocontours lc ''black'' dt ''-.'' lw 1.5 ',"
      "'title ''',A,'''')",
      {q, q, axis});
  tail += format_record(
      "('unset contour',/,"
      "'set title ''pressão''; set cblabel ''p (MPa)''; set key at screen 0.84, 0.44 left top')",
      {});
  tail += format_record(
      "('splot ''',A,''' index 0 using 1:2:($4 / 1e6) with pm3d notitle, ',"
      "''''' index 1 using 1:2:(0) with lines lc ''black'' lw 2 title ''parede'', ',"
      "''''' index 2 using 1:2:(0) with lines lc ''black'' dt ''-.'' lw 1.5 title ''',A,'''',/,"
      "'unset multiplot')",
      {q, axis});
  rewrite_script(kFieldMapScript, kept_lines(kFieldMapScript), tail);
  open_plot(s, kFieldMapScript, Drawing::Once, PictureSize{900, 1000});
}

}  // namespace tx
