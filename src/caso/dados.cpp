// Case data input, the data listing and the field storage.
#include "caso/dados.hpp"

#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include "base/erro.hpp"
#include "arquivos/listread.hpp"
#include "plataforma/plataforma.hpp"
#include "base/texto.hpp"
#include "caso/itens.hpp"
#include "parede/parede.hpp"

namespace tx {

namespace {

// One message for a value that was read but cannot be used.
[[noreturn]] void bad_value(const std::string& file, int item, const char* expected,
                            const std::string& found) {
  throw RunError("Erro no arquivo \"" + file + "\", item " + std::to_string(item) + " (" +
                 case_item(item).name + "): esperado " + expected + ", encontrado " + found +
                 ".");
}

std::string show(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

void need_min(const std::string& file, int item, int v, int min) {
  if (v < min) {
    const std::string e = "um inteiro maior ou igual a " + std::to_string(min);
    bad_value(file, item, e.c_str(), std::to_string(v));
  }
}

void need_positive(const std::string& file, int item, double v) {
  if (!(v > 0.0)) bad_value(file, item, "um número real positivo", show(v));
}

// The grid must be indexable (nxy in an int) and fit in memory; checked in
// 64-bit arithmetic before nx and ny get their fictitious volumes.
void check_grid_size(const std::string& file, int nx_real, int ny_real) {
  const long long nx = static_cast<long long>(nx_real) + 2;
  const long long ny = static_cast<long long>(ny_real) + 2;
  const std::string head = "Erro no arquivo \"" + file + "\", itens 3 e 4 (nx, ny): a malha de " +
                           std::to_string(nx_real) + " x " + std::to_string(ny_real) +
                           " volumes reais ";
  if (nx * ny > INT_MAX)
    throw RunError(head + "tem " + std::to_string(nx * ny) +
                   " volumes com os fictícios; o limite é 2147483647.");
  const long long fields = field_storage_bytes(nx, ny);
  const long long need = fields + run_work_bytes(nx, ny);
  const long long have = memory_available();
  if (need > have)
    throw RunError(head + "precisa de " + show_bytes(need) + " de memória (" +
                   show_bytes(fields) + " para os campos), mas este processo dispõe de " +
                   show_bytes(have) + ".");
}

constexpr const char* kDataLayout =
    "(/,'título = ',A,/,"
    "/,5X,'DADOS',/,"
    "/,'caso: nome do experimento numérico = ',A,/,"
    "/,I8,12X,'   = coord: sistema de coordenadas: 0=plano; 1=axissimetrico',/,"
    "/,I8,12X,'   = nx:  número de volumes reais na direção X',/,"
    "I8,12X,'   = ny:  número de volumes reais na direção Y',/,"
    "I8,12X,'   = nxy: número total de volumes reais',/,"
    "/,1P,E22.9,' = po: pressão de estagnação na entrada da tubeira (Pa)',/,"
    "1P,E22.9,' = T0: temperatura de estagnação na entrada da tubeira (K)',/,"
    "1P,E22.9,' = gama: razão entre os calores específicos na entrada da tubeira (adimensional)',/,"
    "1P,E22.9,' = Rg: constante do gás perfeito (J/kg.K)',/,"
    "/,1P,E22.9,' = dt1: incremento de tempo até a iteração It1 (s)',/,"
    "1P,E22.9,' = dt2: incremento de tempo a partir da iteração It2 (s)',/,"
    "I8,12X,'   = It1: Iteração até a qual dt = dt1',/,"
    "I8,12X,'   = It2: Iteração a partir da qual dt = dt2',/,"
    "1P,E22.9,' = tole: tolerância sobre as iterações externas (norma L1 adim.)',/,"
    "I8,12X,'   = itmax: número máximo de iterações externas',/,"
    "I8,12X,'   = imax:  número máximo de iterações no ciclo da massa',/,"
    "1P,E22.9,' = tolu: tolerância no MSI para u,v',/,"
    "1P,E22.9,' = tolp: tolerância no MSI para plinha',/,"
    "I8,12X,'   = nitm_u: número máximo de iterações internas no MSI para u,v,T',/,"
    "I8,12X,'   = nitm_p: número máximo de iterações internas no MSI para p''',/,"
    "1P,E22.9,' = beta: fator de mistura da correção adiada: 0=UDS; 1=CDS',/,"
    "I8,12X,'   = ci - tipo da condição inicial: 1=solução analítica Q1D; 2=reinício',/,"
    "/,I8,12X,'   = w_cam: =1, escreve campos;   =0, não',/,"
    "I8,12X,'   = w_r:   freqüência de escrita dos resíduos e globais',/,"
    "I8,12X,'   = w_g:   freqüência de escrita nos gráficos',/,"
    "I8,12X,'   = sem_a: 1=não abre arquivos; 0=abre',/,"
    "I8,12X,'   = sem_g: 1=não abre gráficos; 0=abre',/,"
    "/,'hard: hardware = ',A)";

}  // namespace

void read_case_data(State& s) {
  CaseData& c = s.c;
  {
    ListReader in(kSwitchFile);
    c.sem_a = in.read_int(1, "sem_a");
  }
  if (c.sem_a == 0) s.os.run_command(std::string("notepad ") + kSelectionFile);
  std::string data_file;
  {
    ListReader in(kSelectionFile);
    data_file = trimmed(in.read_name(1, "arquivo de dados"));
  }
  if (data_file.empty())
    throw RunError(std::string("Erro no arquivo \"") + kSelectionFile +
                   "\", item 1 (arquivo de dados): esperado o nome do arquivo de dados, "
                   "encontrado um nome em branco.");
  if (c.sem_a == 0) s.os.run_command("notepad " + data_file);

  ListReader in(data_file);
  const std::string& f = data_file;
  const auto int_item = [&](int n) { return in.read_int(n, case_item(n).name); };
  const auto real_item = [&](int n) { return in.read_real(n, case_item(n).name); };
  const auto name_item = [&](int n) { return in.read_name(n, case_item(n).name); };
  const auto text_item = [&](int n) { return in.read_char(n, case_item(n).name); };
  const auto positive_item = [&](int n) {
    const double v = real_item(n);
    need_positive(f, n, v);
    return v;
  };
  const auto int_at_least = [&](int n, int min) {
    const int v = int_item(n);
    need_min(f, n, v, min);
    return v;
  };
  c.caso = name_item(1);
  const std::string caso = trimmed(c.caso);
  if (caso.empty()) bad_value(f, 1, "o nome do experimento", "um nome em branco");
  // Every file of a run is in the working directory.
  if (caso.find_first_of("/\\") != std::string::npos)
    bad_value(f, 1, "um nome sem separador de pastas (/ ou \\)",
              "\"" + caso + "\"");
  if (const std::string why = file_name_problem(caso); !why.empty())
    bad_value(f, 1, why.c_str(), "\"" + caso + "\"");
  c.coord = int_item(2);
  c.nx = int_item(3);
  if (c.nx < 2 || c.nx % 2 != 0)
    bad_value(f, 3, "um número par de volumes reais, no mínimo 2", std::to_string(c.nx));
  c.ny = int_at_least(4, 1);
  check_grid_size(f, c.nx, c.ny);
  c.po = positive_item(5);
  c.T0 = positive_item(6);
  c.gama = real_item(7);
  if (!(c.gama > 1.0)) bad_value(f, 7, "um número real maior que 1", show(c.gama));
  c.Rg = positive_item(8);
  c.dt1 = positive_item(9);
  c.dt2 = positive_item(10);
  c.It1 = int_item(11);
  c.It2 = int_item(12);
  c.tole = real_item(13);
  c.itmax = int_item(14);
  c.imax = int_at_least(15, 1);
  c.tolu = real_item(16);
  c.tolp = real_item(17);
  c.msi_iters_uvT = int_at_least(18, 1);
  c.msi_iters_p = int_at_least(19, 1);
  c.beta = real_item(20);
  c.ci = int_item(21);
  c.w_cam = int_item(22);
  c.w_r = int_at_least(23, 1);
  c.w_g = int_at_least(24, 1);
  c.sem_a = int_item(25);
  c.sem_g = int_item(26);
  c.hard = text_item(27);
  c.titulo = text_item(28);
  // Item 29 only when it stands in apostrophes: any other text after item
  // 28 was never an item and stays ignored.
  std::string wall;
  if (in.read_optional_name(wall)) {
    wall = trimmed(wall);
    if (wall.empty()) bad_value(f, 29, "o nome do arquivo da parede", "um nome em branco");
    if (wall != kBuiltinWall) {
      if (wall.find_first_of("/\\") != std::string::npos)
        bad_value(f, 29, "um arquivo da pasta do caso (nome sem / ou \\)", "\"" + wall + "\"");
      c.parede = wall;
      s.wall = read_wall_file(wall);
    }
    // Item 30 only after item 29, and only in apostrophes, as item 29.
    std::string scheme;
    if (in.read_optional_name(scheme)) {
      scheme = trimmed(scheme);
      if (scheme == kSchemeNames[1]) {
        c.esquema = Scheme::kOrdem2;
      } else if (scheme != kSchemeNames[0]) {
        bad_value(f, 30, "'padrao' ou 'ordem2'", "'" + scheme + "'");
      }
    }
  }

  c.pi = std::acos(-1.0);
  c.ny = c.ny + 2;
  c.nx = c.nx + 2;
  s.k.it_ini = 1;
  s.k.tcpuo = 0.0;
  c.nxy = c.nx * c.ny;
  c.data_file = data_file;
}

long long field_storage_bytes(long long nx, long long ny) {
  return 8 * (63 * (nx * ny) + 7 * ny + 4 * nx);
}

long long run_work_bytes(long long nx, long long ny) {
  const long long nxy = nx * ny;
  // The solver's work vector; the restart record as read back whole (the
  // writer streams it); the second thread's v system (13 values a volume)
  // and work vector.
  const long long restart = 8 * (15 * nxy + ny) + 20;
  return 8 * nxy + restart + 8 * 14 * nxy;
}

std::string date_text(int year, int month, int day) {
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on
  // "literal" + std::string temporaries.
  std::string t = "(";
  t += std::to_string(day);
  t += '/';
  t += std::to_string(month);
  t += '/';
  t += std::to_string(year);
  t += ')';
  return padded(t, 12);
}

std::string time_text(int hour, int minute, int second) {
  return padded(std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                    std::to_string(second),
                8);
}

void write_date_time(State& s) {
  std::array<int, 6> t{};
  if (s.os.read_calendar) {
    t = s.os.read_calendar();
  } else {
    t = local_calendar();
  }
  s.io.listagem.write("(/,5X,'Dia = ',A12,5X,'Hora = ',A8)",
                 {date_text(t[0], t[1], t[2]), time_text(t[3], t[4], t[5])});
}

void write_data_listing(State& s) {
  const CaseData& c = s.c;
  s.io.listagem.write(kDataLayout,
                 {c.titulo, c.caso, c.coord, c.nx - 2, c.ny - 2, (c.nx - 2) * (c.ny - 2), c.po,
                  c.T0, c.gama, c.Rg, c.dt1, c.dt2, c.It1, c.It2, c.tole, c.itmax, c.imax,
                  c.tolu, c.tolp, c.msi_iters_uvT, c.msi_iters_p, c.beta, c.ci, c.w_cam, c.w_r, c.w_g,
                  c.sem_a, c.sem_g, c.hard});
  if (c.esquema != Scheme::kPadrao)
    s.io.listagem.write("(/,'esquema: esquema de discretização = ',A)",
                        {std::string(scheme_name(c.esquema))});
  if (c.parede.empty()) return;
  s.io.listagem.write("(/,'parede: arquivo da parede = ',A)", {c.parede});
  for (const std::string& l : wall_description(s.wall)) s.io.listagem.put(l);
}

void allocate_fields(State& s) {
  const int nxy = s.c.nxy, ny = s.c.ny, nx = s.c.nx;
  Fields& f = s.f;
  // Contents start at zero: owners that clear their arrays rely on nothing else.
  for (Vec* v : {&f.xp,    &f.Y,      &f.yp,     &f.X,      &f.re,     &f.rn,     &f.rc,
                 &f.rp,    &f.ye,     &f.xk,     &f.yk,     &f.Jp,     &f.xe,     &f.v,
                 &f.p,     &f.T,      &f.ro,     &f.u,      &f.Uce,    &f.Vcn,    &f.roe,
                 &f.ron,   &f.pl,     &f.v_old,  &f.p_old,  &f.T_old,  &f.ro_old, &f.u_old,
                 &f.ve,    &f.un,     &f.vn,     &f.ue,     &f.ve_old, &f.un_old, &f.vn_old,
                 &f.ue_old, &f.dn,    &f.psi,    &f.M,      &f.de,     &f.dun,    &f.dve,
                 &f.dvn,   &f.due,    &f.bc_u,   &f.bc_v,   &f.cp,     &f.mass,   &f.mass_m,
                 &f.psi_T})
    v->assign(nxy);
  f.msi_l.assign(nxy, 4);
  f.msi_u.assign(nxy, 3);
  f.b.assign(nxy);
  f.a.assign(nxy, 5);
  for (Vec* v : {&f.vin, &f.Tin, &f.pin, &f.uin, &f.dpin, &f.pin_old, &f.Min}) v->assign(ny);
  for (Vec* v : {&f.p1D, &f.T1D, &f.M1D, &f.u1D}) v->assign(nx);
}

}  // namespace tx
