#include "resultados/resultados.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "caso/resumo.hpp"
#include "graficos/graficos.hpp"
#include "graficos/modelos.hpp"
#include "arquivos/layout.hpp"
#include "malha/malha.hpp"
#include "resultados/mapa_campo.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

constexpr double kSeaLevel = 101325.0;   // ambient pressure at sea level (Pa)
constexpr double kGravity = 9.80665;     // standard gravity (m/s2)

void run_if(State& s, bool on, const std::string& command) {
  if (on && s.os.run_command) s.os.run_command(command);
}

// The two closing lines of every profile and residual script: the title
// without trailing blanks, its leading blanks kept.
std::string title_lines(const State& s) {
  return script_title_lines(without_trailing_blanks(s.c.titulo));
}

// Whether column i goes into a profile file whose first written column is first.
bool profile_row(const State& s, int i, int first) {
  return i == first || i == s.c.nx || i % s.c.w_g == 0;
}

// The quasi-1D column of a profile file.
enum class OneD { Velocity, Zero, Pressure, Temperature, Density, Mach };

struct ProfileKind {
  const char* suffix;
  const char* header;
  const char* script;
  Vec Fields::*field;
  OneD one_d;
};

constexpr const char* kColumnTitles = ",/,'#',T4,'x (m)',T28,'1D',T52,'centro',T76,'parede')";

double one_d_value(const State& s, OneD kind, int i) {
  const Fields& f = s.f;
  switch (kind) {
    case OneD::Velocity: return f.u1D(i);
    case OneD::Zero: return 0.0;  // no v in quasi-1D flow
    case OneD::Pressure: return f.p1D(i);
    case OneD::Temperature: return f.T1D(i);
    case OneD::Density: return f.p1D(i) / (s.c.Rg * f.T1D(i));
    case OneD::Mach: break;
  }
  return f.M1D(i);
}

void write_profile(State& s, const ProfileKind& k) {
  const int nx = s.c.nx, ny = s.c.ny;
  const std::string data = trimmed(s.c.caso) + k.suffix;
  {
    TextFile f7;
    f7.open(data);
    f7.write(std::string(k.header) + kColumnTitles);
    for (int i = 1; i <= nx; ++i) {
      if (!profile_row(s, i, 1)) continue;
      const double wall = (s.f.*k.field)((ny - 1) * nx + i);
      f7.write("(4(1P,E24.15))",
               {s.f.xp(i), one_d_value(s, k.one_d, i), (s.f.*k.field)(i), wall});
    }
    f7.close();
  }
  const std::string q = gnuplot_quoted(data);
  std::string tail = format_record("('plot ''',A,''' using 1:2 title ''1D''')", {q});
  tail += format_record("('replot ''',A,''' using 1:3 title ''centro''')", {q});
  tail += format_record("('replot ''',A,''' using 1:4 title ''parede''')", {q});
  tail += title_lines(s);
  rewrite_script(k.script, kept_lines(k.script), tail);
  open_plot(s, k.script);
}

}  // namespace

double east_face_mass_flow(const State& s, int np) {
  return 2.0 * s.c.pi * s.f.re(np) * s.f.roe(np) * s.f.Uce(np);
}

void compute_iteration_globals(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  const Fields& f = s.f;
  double sum = 0.0;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    sum += f.re(np) * f.Uce(np) * f.roe(np);
  }
  s.r.fmi = sum * s.c.pi * 2.0;

  double fme = 0.0, fd = 0.0;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = (nx - 1) + (j - 1) * nx;
    const double m = east_face_mass_flow(s, np);
    fme += m;
    fd += m * ((f.u(np + 1) + f.u(np)) * 0.5);
  }
  s.r.fme = fme;
  s.r.Fd = fd;
}

std::string write_iteration_globals(State& s) {
  compute_iteration_globals(s);
  std::string line = format_record("(I8,2X,3(1P,E24.15))", {s.k.it, s.r.fmi / s.r.fme,
                                                           s.r.fme / s.r.fm1D, s.r.Fd / s.r.Fd1D});
  s.io.itn.put(line);
  return line;
}

void compute_stream_function(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Vec& psi = s.f.psi;
  psi.fill(0.0);
  for (int i = 1; i <= nx - 1; ++i)
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = i + (j - 1) * nx;
      psi(np) = psi(np - nx) + east_face_mass_flow(s, np);
    }
}

void complete_boundary_values(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  // Inlet column: the inlet-face state, node in the middle of the face.
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    f.u(np) = f.uin(j);
    f.v(np) = f.vin(j);
    f.p(np) = f.pin(j);
    f.T(np) = f.Tin(j);
    f.xp(np) = f.X(np);
    f.yp(np) = (f.Y(np) + f.Y(np - nx)) * 0.5;
  }
  // Exit column: interpolated to the exit face.
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    f.u(np) = (f.u(np - 1) + f.u(np)) * 0.5;
    f.v(np) = (f.v(np - 1) + f.v(np)) * 0.5;
    f.p(np) = (f.p(np - 1) + f.p(np)) * 0.5;
    f.T(np) = (f.T(np - 1) + f.T(np)) * 0.5;
    f.xp(np) = f.X(np - 1);
    f.yp(np) = (f.Y(np - 1 - nx) + f.Y(np - 1)) * 0.5;
  }
  // Axis row: the first real row's state with no normal velocity.
  for (int i = 2; i <= nx - 1; ++i) {
    const int np = i;
    f.v(np) = 0.0;
    f.u(np) = f.u(np + nx);
    f.p(np) = f.p(np + nx);
    f.T(np) = f.T(np + nx);
    f.xp(np) = (f.X(np - 1) + f.X(np)) * 0.5;
    f.yp(np) = (f.Y(np - 1) + f.Y(np)) * 0.5;
  }
  // Axis corners take the (already completed) values of row 2.
  for (const int np : {1, nx}) {
    f.u(np) = f.u(np + nx);
    f.p(np) = f.p(np + nx);
    f.T(np) = f.T(np + nx);
    f.v(np) = 0.0;
  }
  f.xp(1) = f.X(1);
  f.yp(1) = f.Y(1);
  f.xp(nx) = f.X(nx - 1);
  f.yp(nx) = f.Y(nx - 1);
  // Wall row: the state at the wall face, node in its middle: the last real
  // row's (the current scheme), or the mean of it and the fictitious row's
  // extrapolated values (the second-order scheme; at the corners, whose
  // fictitious values it leaves alone, the last real row's).
  const bool face = s.c.esquema == Scheme::kOrdem2;
  for (int i = 1; i <= nx; ++i) {
    const int np = (ny - 1) * nx + i;
    if (face && i >= 2 && i <= nx - 1) {
      f.u(np) = (f.u(np - nx) + f.u(np)) * 0.5;
      f.v(np) = (f.v(np - nx) + f.v(np)) * 0.5;
      f.p(np) = (f.p(np - nx) + f.p(np)) * 0.5;
      f.T(np) = (f.T(np - nx) + f.T(np)) * 0.5;
    } else {
      f.u(np) = f.u(np - nx);
      f.v(np) = f.v(np - nx);
      f.p(np) = f.p(np - nx);
      f.T(np) = f.T(np - nx);
    }
    if (i >= 2 && i <= nx - 1) {
      f.xp(np) = (f.X(np - nx - 1) + f.X(np - nx)) * 0.5;
      f.yp(np) = (f.Y(np - nx - 1) + f.Y(np - nx)) * 0.5;
    }
  }
  // Wall corners: the inlet and exit points on the wall.
  {
    const int np = (ny - 1) * nx + 1;
    f.xp(np) = f.X(np - nx);
    f.yp(np) = f.Y(np - nx);
  }
  {
    const int np = ny * nx;
    f.xp(np) = f.X(np - nx - 1);
    f.yp(np) = f.Y(np - nx - 1);
  }
}

void write_field(State& s, const Vec& field, int ny, int nx, int nxy) {
  TextFile& out = s.io.listagem;
  std::vector<FmtValue> vals;
  int i0 = 0;
  int w = 10;
  for (;;) {
    vals.clear();
    const int last = (i0 + 10 <= nx) ? i0 + 10 : nx;
    for (int i = i0 + 1; i <= last; ++i) vals.emplace_back(i);
    out.write("(/,'i=',10(I10,5X))", vals);
    const int count = nx < 10 ? nx : w;
    for (int j = ny; j >= 1; --j) {
      const int k = i0 + (j - 1) * nx;
      vals.clear();
      vals.emplace_back(j);
      for (int n = 1; n <= count; ++n) vals.emplace_back(field(k + n));
      out.write("('j=',I4,10(1P,E15.7))", vals);
    }
    if (nx < 10 || i0 + w == nx) break;
    i0 += 10;
    w = std::min(nx - i0, 10);
  }

  int imin = 1, imax = 1;
  for (int np = 2; np <= nxy; ++np) {
    if (field(np) < field(imin)) imin = np;
    if (field(np) > field(imax)) imax = np;
  }
  out.write("(/,'Mínimo do campo:',5X,1P,E15.7,' = valor',5X,1P,E15.7,' = x',5X,1P,E15.7,"
            "' = y')",
            {field(imin), s.f.xp(imin), s.f.yp(imin)});
  out.write("(/,'Máximo do campo:',5X,1P,E15.7,' = valor',5X,1P,E15.7,' = x',5X,1P,E15.7,"
            "' = y')",
            {field(imax), s.f.xp(imax), s.f.yp(imax)});
}

void write_global_results(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  const double pi = s.c.pi;
  const Fields& f = s.f;
  Globals& r = s.r;
  TextFile& out = s.io.listagem;

  // Quasi-1D values.
  const double r_ex = f.Y((ny - 2) * nx + (nx - 1));
  const double A_ex = section_area(s.c, r_ex);
  const double Fp1D = r.Fpv1D - A_ex * kSeaLevel;
  const double F1D = Fp1D + r.Fd1D;
  const double Fv1D = r.Fd1D + r.Fpv1D;
  const double Fo = s.g.Sg * s.c.po;
  const double CF1D = F1D / Fo;
  const double CFv1D = Fv1D / Fo;
  const double ce1D = Fo / r.fm1D;
  const double c1D = F1D / r.fm1D;
  const double cv1D = Fv1D / r.fm1D;
  const double Is1D = c1D / kGravity;
  const double Isv1D = cv1D / kGravity;
  out.write(
      "(/,1X,'*** Solução analítica do escoamento Q1D isentrópico ***',/,/,"
      "1P,E25.15,' = fm1D:  fluxo de massa (kg/s)',/,"
      "1P,E25.15,' = Fd1D:  empuxo dinâmico (N)',/,"
      "1P,E25.15,' = Fp1D:  empuxo de pressão ao nível do mar (p = 101325 Pa) (N)',/,"
      "1P,E25.15,' = Fpv1D: empuxo de pressão no vácuo (N)',/,"
      "1P,E25.15,' = F1D:   empuxo total ao nível do mar (N)',/,"
      "1P,E25.15,' = Fv1D:  empuxo total no vácuo (N)',/,"
      "1P,E25.15,' = Fo:    empuxo padrão (N)',/,"
      "1P,E25.15,' = CF1D:  coeficiente de empuxo ao nível do mar (adimensional)',/,"
      "1P,E25.15,' = CFv1D: coeficiente de empuxo no vácuo (adimensional)',/,"
      "1P,E25.15,' = ce1D:  velocidade característica (m/s)',/,"
      "1P,E25.15,' = c1D:   velocidade de ejeção efetiva ao nível do mar (m/s)',/,"
      "1P,E25.15,' = cv1D:  velocidade de ejeção efetiva no vácuo (m/s)',/,"
      "1P,E25.15,' = Is1D:  impulso específico ao nível do mar (s)',/,"
      "1P,E25.15,' = Isv1D: impulso específico no vácuo (s)')",
      {r.fm1D, r.Fd1D, Fp1D, r.Fpv1D, F1D, Fv1D, Fo, CF1D, CFv1D, ce1D, c1D, cv1D, Is1D,
       Isv1D});

  // Kliegel and Levine.
  const double CdKL = kliegel_levine_cd(s.c.gama, s.g.Rcag);
  out.write(
      "(/,1X,'*** Solução analítica 2D ***',/,/,1P,E25.15,"
      "' = CdKL: coeficiente de descarga de Kliegel e Levine (adimensional)')",
      {CdKL});

  // Numerical 2D values on the exit faces.
  double S_d = 0.0, S_p = 0.0, S_v = 0.0;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = (nx - 1) + (j - 1) * nx;
    const double u_x = f.u(np + 1);
    const double p_x = f.p(np + 1);
    S_d += u_x * f.Uce(np) * f.roe(np) * f.re(np);
    S_p += (p_x - kSeaLevel) * f.ye(np) * f.re(np);
    S_v += f.ye(np) * p_x * f.re(np);
  }
  const double fme = r.fme;
  r.Fd = pi * S_d * 2.0;
  const double Fd = r.Fd;
  const double Fp = pi * S_p * 2.0;
  const double Fpv = S_v * pi * 2.0;
  const double F = Fp + Fd;
  const double Fv = Fpv + Fd;
  const double CF = F / Fo;
  const double CFv = Fv / Fo;
  const double ce = Fo / fme;
  const double c = F / fme;
  const double cv = Fv / fme;
  const double Is = c / kGravity;
  const double Isv = cv / kGravity;
  out.write(
      "(/,1X,'*** Solução numérica 2D ***',/,/,"
      "1P,E25.15,' = fme: fluxo de massa (kg/s)',/,"
      "1P,E25.15,' = Fd:  empuxo dinâmico (N)',/,"
      "1P,E25.15,' = Fp:  empuxo de pressão ao nível do mar (p = 101325 Pa) (N)',/,"
      "1P,E25.15,' = Fpv: empuxo de pressão no vácuo (N)',/,"
      "1P,E25.15,' = F:   empuxo total ao nível do mar (N)',/,"
      "1P,E25.15,' = Fv:  empuxo total no vácuo (N)',/,"
      "1P,E25.15,' = Fo:  empuxo padrão (N)',/,"
      "1P,E25.15,' = CF:  coeficiente de empuxo ao nível do mar (adimensional)',/,"
      "1P,E25.15,' = CFv: coeficiente de empuxo no vácuo (adimensional)',/,"
      "1P,E25.15,' = ce:  velocidade característica (m/s)',/,"
      "1P,E25.15,' = c:   velocidade de ejeção efetiva ao nível do mar (m/s)',/,"
      "1P,E25.15,' = cv:  velocidade de ejeção efetiva no vácuo (m/s)',/,"
      "1P,E25.15,' = Is:  impulso específico ao nível do mar (s)',/,"
      "1P,E25.15,' = Isv: impulso específico no vácuo (s)')",
      {fme, Fd, Fp, Fpv, F, Fv, Fo, CF, CFv, ce, c, cv, Is, Isv});

  // Efficiencies: numerical over quasi-1D.
  const double eff[13] = {fme / r.fm1D, Fd / r.Fd1D, Fp / Fp1D,   Fpv / r.Fpv1D, F / F1D,
                          Fv / Fv1D,    CF / CF1D,   CFv / CFv1D, ce / ce1D,     c / c1D,
                          cv / cv1D,    Is / Is1D,   Isv / Isv1D};
  // The listing's block and the summary file share the quantities' labels.
  std::string listed =
      "(/,1X,'*** Eficiências: solução numérica 2D / analítica Q1D (adimensionais) ***',/";
  std::string summary = std::string("(2X,1P,E25.15,' = ") + kSummarySpacingLabel + "'";
  for (std::size_t q = 0; q < kSummaryQuantities.size(); ++q) {
    char number[24];
    std::snprintf(number, sizeof number, "%2zu", q + 1);
    listed += std::string(",/,1P,E25.15,' = ") + kSummaryQuantities[q].label + "'";
    summary += std::string(",/,'") + number + "',1P,E25.15,' = " +
               kSummaryQuantities[q].label + "'";
  }
  listed += ")";
  summary += ")";
  out.write(listed, {eff[0], eff[1], eff[2], eff[3], eff[4], eff[5], eff[6], eff[7],
                             eff[8], eff[9], eff[10], eff[11], eff[12]});

  // Summary for the grid-refinement extrapolation tool.
  const double h = (f.X(nx - 1) - f.X(1)) / static_cast<double>(nx - 2);
  TextFile u12;
  u12.open(trimmed(s.c.caso) + kSummarySuffix);
  u12.write(summary, {h, eff[0], eff[1], eff[2], eff[3], eff[4], eff[5], eff[6], eff[7],
                              eff[8], eff[9], eff[10], eff[11], eff[12]});
  u12.close();
}

double kliegel_levine_cd(double gama, double Rcag) {
  const double g = gama, R = Rcag;
  const double q1 = (1.0 + g) / ((1.0 + R) * (1.0 + R));
  const double q2 = (8.0 * g - 27.0) / (2304.0 * (1.0 + R));
  const double q3 = 754.0 * g * g - 757.0 * g + 3633.0;
  return 1.0 - (q3 / ((1.0 + R) * (1.0 + R) * 276480.0) - q2 + 0.010416666666666666) * q1;
}

void write_residual_script(State& s) {
  const char* script = "Tubrix_5p5_residuo.gnu";
  std::string tail = format_record("('plot ''',A,''' using 1:2 notitle')",
                                   {gnuplot_quoted(trimmed(s.c.caso) + ".residuo.dat")});
  tail += title_lines(s);
  rewrite_script(script, kept_lines(script), tail);
  open_plot(s, script);
}

void write_profiles(State& s) {
  static const ProfileKind kinds[] = {
      {".velocidade_u.dat", "('### VELOCIDADE u (m/s) ###'", "Tubrix_5p5_velocidade_u.gnu",
       &Fields::u, OneD::Velocity},
      {".velocidade_v.dat", "('### VELOCIDADE v (m/s) ###'", "Tubrix_5p5_velocidade_v.gnu",
       &Fields::v, OneD::Zero},
      {".pressao.dat", "('### PRESSÃO (Pa) ###'", "Tubrix_5p5_pressao.gnu", &Fields::p,
       OneD::Pressure},
      {".temperatura.dat", "('### TEMPERATURA (K) ###'", "Tubrix_5p5_temperatura.gnu",
       &Fields::T, OneD::Temperature},
      {".massa_especifica.dat", "('### MASSA ESPECÍFICA (kg/m3) ###'",
       "Tubrix_5p5_massa_especifica.gnu", &Fields::ro, OneD::Density},
      {".Mach.dat", "('### MACH ###'", "Tubrix_5p5_Mach.gnu", &Fields::M, OneD::Mach},
  };
  for (const auto& k : kinds) write_profile(s, k);
}

void write_thrust_profile(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  const double pi = s.c.pi;
  const Fields& f = s.f;
  const std::string data = trimmed(s.c.caso) + ".empuxo.dat";
  {
    TextFile f7;
    f7.open(data);
    f7.write(
        "('### EMPUXO (N) ###',/,'#',T4,'x (m)',T18,'dinâmico',T32,'pressão-mar',"
        "T46,'pressão-vácuo',T60,'total-mar',T74,'total-vácuo')");
    for (int i = s.g.ig + 1; i <= nx; ++i) {
      double S_d = 0.0, S_p = 0.0, S_v = 0.0;
      for (int j = 2; j <= ny - 1; ++j) {
        const int np = i + (j - 1) * nx;
        double r, dy;
        if (i == nx) {  // the exit face itself
          r = f.re(np - 1);
          dy = f.ye(np - 1);
        } else {
          r = f.rp(np);
          dy = (f.ye(np - 1) + f.ye(np)) * 0.5;
        }
        S_d += f.u(np) * f.u(np) * f.ro(np) * dy * r;
        S_p += (f.p(np) - kSeaLevel) * dy * r;
        S_v += f.p(np) * dy * r;
      }
      const double dinamico = S_d * pi * 2.0;
      const double pmar = S_p * pi * 2.0;
      const double pvac = pi * S_v * 2.0;
      const double tmar = pmar + dinamico;
      const double tvac = dinamico + pvac;
      if (profile_row(s, i, s.g.ig + 1))
        f7.write("(6(1P,E14.5))", {f.xp(i), dinamico, pmar, pvac, tmar, tvac});
    }
    f7.close();
  }
  const std::string q = gnuplot_quoted(data);
  std::string tail = format_record("('plot ''',A,''' using 1:2 title ''dinâmico''')", {q});
  tail += format_record("('replot ''',A,''' using 1:3 title ''pressão-mar''')", {q});
  tail += format_record("('replot ''',A,''' using 1:4 title ''pressão-vácuo''')", {q});
  tail += format_record("('replot ''',A,''' using 1:5 title ''total-mar''')", {q});
  tail += format_record("('replot ''',A,''' using 1:6 title ''total-vácuo''')", {q});
  tail += title_lines(s);
  const char* script = "Tubrix_5p5_empuxo.gnu";
  rewrite_script(script, kept_lines(script), tail);
  open_plot(s, script);
}

void write_results(State& s) {
  const int nxy = s.c.nxy;
  Fields& f = s.f;
  // No outer iteration in this run: the per-iteration globals were never
  // formed, so form them from the current fields, as a reported iteration
  // would, before the boundary values are overwritten for output.
  if (s.k.it < s.k.it_ini) compute_iteration_globals(s);

  s.io.listagem.write("(/,5X,'Norma L1 dos resíduos na iteração 1 =',1P,E15.6)", {s.k.norm1});
  compute_stream_function(s);
  complete_boundary_values(s);
  const double Rg = s.c.Rg, gama = s.c.gama;
  for (int np = 1; np <= nxy; ++np)
    f.M(np) = std::sqrt((f.u(np) * f.u(np) + f.v(np) * f.v(np)) / (f.T(np) * Rg * gama));
  for (int np = 1; np <= nxy; ++np) f.ro(np) = f.p(np) / (Rg * f.T(np));

  if (s.c.w_cam == 1) {
    s.io.listagem.write(
        "(/,/,10X,'*** campos ***',/,/,"
        "10X,'na horizontal (esquerda para direita): contorno oeste para leste',/,/,"
        "10X,'na vertical   (de cima para baixo):    contorno norte para sul')");
    struct Listed {
      const char* title;
      const Vec* field;
    };
    const Listed listed[] = {
        {"M: número de Mach (adimensional)", &f.M},
        {"u: velocidade cartesiana u nodal (m/s)", &f.u},
        {"v: velocidade cartesiana v nodal (m/s)", &f.v},
        {"p: pressão (Pa)", &f.p},
        {"T: Temperatura (K)", &f.T},
        {"ro: massa específica nodal (kg/m3)", &f.ro},
        {"cp: calor específico à pressão constante (J/kg.K)", &f.cp},
        {"Uce: velocidade contravariante U na face leste (m2/s)", &f.Uce},
        {"Vcn: velocidade contravariante V na face norte (m2/s)", &f.Vcn},
        {"pl: variação de pressão (Pa)", &f.pl},
        {"b: fonte de pl (kg/s)", &f.b},
        {"psi: função de corrente (kg/s)", &f.psi},
        {"X: coordenada X no canto nordeste (m)", &f.X},
        {"Y: coordenada Y no canto nordeste (m)", &f.Y},
        {"Jp: Jacobiano no centro do volume (1/m2)", &f.Jp},
        {"xe: métrica x eta na face leste (m)", &f.xe},
        {"ye: métrica y eta na face leste (m)", &f.ye},
        {"xk: métrica x ksi na face norte (m)", &f.xk},
        {"yk: métrica y ksi na face norte (m)", &f.yk},
        {"de: coeficiente d do SIMPLEC na face leste (m4.s/kg)", &f.de},
        {"dn: coeficiente d do SIMPLEC na face norte (m4.s/kg)", &f.dn},
    };
    for (const auto& l : listed) {
      s.io.listagem.write(std::string("(/,/,30X,'") + l.title + "')");
      write_field(s, *l.field, s.c.ny, s.c.nx, nxy);
    }
  }

  write_global_results(s);

  const double dtcpu = s.k.tcpu2 - s.k.tcpu1;
  s.io.listagem.write(
      "(/,/,F14.2,' = tcpuo: tempo de CPU (s) anterior acumulado deste caso',/,"
      "F14.2,' = dtcpu: tempo de CPU (s) da simulação atual',/,"
      "F14.2,' = tcpu:  tempo de CPU (s) total acumulado deste caso')",
      {s.k.tcpuo, dtcpu, s.k.tcpu});

  write_residual_script(s);
  const std::string caso = trimmed(s.c.caso);
  const bool editor = s.c.sem_a == 0;
  run_if(s, editor, "notepad " + caso + ".itn");
  s.io.listagem.close();
  run_if(s, editor, "notepad " + caso + ".txt");
  run_if(s, editor, "notepad " + caso + kSummarySuffix);

  write_profiles(s);
  write_thrust_profile(s);
  write_field_map(s);
}

}  // namespace tx
