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

namespace tx {

namespace {

// One message for a value that was read but cannot be used.
[[noreturn]] void bad_value(const std::string& file, int item, const char* name,
                            const char* expected, const std::string& found) {
  throw RunError("Erro no arquivo \"" + file + "\", item " + std::to_string(item) + " (" +
                 name + "): esperado " + expected + ", encontrado " + found + ".");
}

std::string show(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

void need_min(const std::string& file, int item, const char* name, int v, int min) {
  if (v < min) {
    const std::string e = "um inteiro maior ou igual a " + std::to_string(min);
    bad_value(file, item, name, e.c_str(), std::to_string(v));
  }
}

void need_positive(const std::string& file, int item, const char* name, double v) {
  if (!(v > 0.0)) bad_value(file, item, name, "um número real positivo", show(v));
}

std::string show_bytes(long long b) {
  char buf[40];
  if (b >= 1000000000LL)
    std::snprintf(buf, sizeof buf, "%.1f GB", static_cast<double>(b) / 1e9);
  else
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(b) / 1e6);
  return buf;
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
  c.caso = in.read_name(1, "caso");
  const std::string caso = trimmed(c.caso);
  if (caso.empty()) bad_value(f, 1, "caso", "o nome do experimento", "um nome em branco");
  // Every file of a run is in the working directory.
  if (caso.find_first_of("/\\") != std::string::npos)
    bad_value(f, 1, "caso", "um nome sem separador de pastas (/ ou \\)",
              "\"" + caso + "\"");
  if (const std::string why = file_name_problem(caso); !why.empty())
    bad_value(f, 1, "caso", why.c_str(), "\"" + caso + "\"");
  c.coord = in.read_int(2, "coord");
  c.nx = in.read_int(3, "nx");
  if (c.nx < 2 || c.nx % 2 != 0)
    bad_value(f, 3, "nx", "um número par de volumes reais, no mínimo 2", std::to_string(c.nx));
  c.ny = in.read_int(4, "ny");
  need_min(f, 4, "ny", c.ny, 1);
  check_grid_size(f, c.nx, c.ny);
  c.po = in.read_real(5, "po");
  need_positive(f, 5, "po", c.po);
  c.T0 = in.read_real(6, "T0");
  need_positive(f, 6, "T0", c.T0);
  c.gama = in.read_real(7, "gama");
  if (!(c.gama > 1.0)) bad_value(f, 7, "gama", "um número real maior que 1", show(c.gama));
  c.Rg = in.read_real(8, "Rg");
  need_positive(f, 8, "Rg", c.Rg);
  c.dt1 = in.read_real(9, "dt1");
  need_positive(f, 9, "dt1", c.dt1);
  c.dt2 = in.read_real(10, "dt2");
  need_positive(f, 10, "dt2", c.dt2);
  c.It1 = in.read_int(11, "It1");
  c.It2 = in.read_int(12, "It2");
  c.tole = in.read_real(13, "tole");
  c.itmax = in.read_int(14, "itmax");
  c.imax = in.read_int(15, "imax");
  need_min(f, 15, "imax", c.imax, 1);
  c.tolu = in.read_real(16, "tolu");
  c.tolp = in.read_real(17, "tolp");
  c.nitm_u = in.read_int(18, "nitm_u");
  need_min(f, 18, "nitm_u", c.nitm_u, 1);
  c.nitm_p = in.read_int(19, "nitm_p");
  need_min(f, 19, "nitm_p", c.nitm_p, 1);
  c.beta = in.read_real(20, "beta");
  c.ci = in.read_int(21, "ci");
  c.w_cam = in.read_int(22, "w_cam");
  c.w_r = in.read_int(23, "w_r");
  need_min(f, 23, "w_r", c.w_r, 1);
  c.w_g = in.read_int(24, "w_g");
  need_min(f, 24, "w_g", c.w_g, 1);
  c.sem_a = in.read_int(25, "sem_a");
  c.sem_g = in.read_int(26, "sem_g");
  c.hard = in.read_char(27, "hard");
  c.titulo = in.read_char(28, "titulo");

  c.pi = std::acos(-1.0);
  c.ny = c.ny + 2;
  c.nx = c.nx + 2;
  s.k.it_ini = 1;
  s.k.tcpuo = 0.0;
  c.nxy = c.nx * c.ny;
  c.data_file = data_file;
}

long long field_storage_bytes(long long nx, long long ny) {
  return 8 * (60 * (nx * ny) + 7 * ny + 4 * nx);
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
  s.io.u10.write("(/,5X,'Dia = ',A12,5X,'Hora = ',A8)",
                 {date_text(t[0], t[1], t[2]), time_text(t[3], t[4], t[5])});
}

void write_data_listing(State& s) {
  const CaseData& c = s.c;
  s.io.u10.write(kDataLayout,
                 {c.titulo, c.caso, c.coord, c.nx - 2, c.ny - 2, (c.nx - 2) * (c.ny - 2), c.po,
                  c.T0, c.gama, c.Rg, c.dt1, c.dt2, c.It1, c.It2, c.tole, c.itmax, c.imax,
                  c.tolu, c.tolp, c.nitm_u, c.nitm_p, c.beta, c.ci, c.w_cam, c.w_r, c.w_g,
                  c.sem_a, c.sem_g, c.hard});
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
                 &f.dvn,   &f.due,    &f.bc_u,   &f.bc_v,   &f.cp})
    v->assign(nxy);
  f.msi_l.assign(nxy, 4);
  f.msi_u.assign(nxy, 3);
  f.b.assign(nxy);
  f.a.assign(nxy, 5);
  for (Vec* v : {&f.vin, &f.Tin, &f.pin, &f.uin, &f.dpin, &f.pin_old, &f.Min}) v->assign(ny);
  for (Vec* v : {&f.p1D, &f.T1D, &f.M1D, &f.u1D}) v->assign(nx);
}

}  // namespace tx
