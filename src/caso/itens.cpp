// The case data items.
#include "caso/itens.hpp"

#include <charconv>
#include <cstdio>

#include "arquivos/layout.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

constexpr ItemKind N = ItemKind::Name, I = ItemKind::Integer, R = ItemKind::Real,
                   T = ItemKind::Text;

// " (unit)", or nothing.
std::string unit_suffix(const CaseItem& it) {
  return *it.unit == '\0' ? std::string() : std::string(" (") + it.unit + ")";
}

}  // namespace

// Shortest text that the case data reader reads back as the same double.
std::string real_text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

const std::array<CaseItem, kCaseItemCount> kCaseItems = {{
    {1, "caso", N, "", "nome do experimento: início do nome de todo arquivo de saída (sem /)",
     "nome do experimento numérico", true},
    {2, "coord", I, "", "sistema de coordenadas: 0 = plano, 1 = axissimétrico",
     "0 = plano; 1 = axissimétrico", true},
    {3, "nx", I, "", "número de volumes reais na direção x (par, no mínimo 2)",
     "número de volumes reais na direção x (par)", true},
    {4, "ny", I, "", "número de volumes reais na direção y (no mínimo 1)",
     "número de volumes reais na direção y", true},
    {5, "po", R, "Pa", "pressão de estagnação na entrada da tubeira", "pressão de estagnação",
     true},
    {6, "T0", R, "K", "temperatura de estagnação na entrada da tubeira",
     "temperatura de estagnação", true},
    {7, "gama", R, "", "razão entre os calores específicos (adimensional, maior que 1)",
     "razão entre os calores específicos", true},
    {8, "Rg", R, "J/kg.K", "constante do gás perfeito", "constante do gás", true},
    {9, "dt1", R, "s", "incremento de tempo até a iteração It1", "incremento de tempo até It1",
     true},
    {10, "dt2", R, "s", "incremento de tempo a partir da iteração It2",
     "incremento de tempo a partir de It2", true},
    {11, "It1", I, "", "iteração até a qual dt = dt1", "iteração até a qual dt = dt1", true},
    {12, "It2", I, "", "iteração a partir da qual dt = dt2 (rampa linear entre elas)",
     "iteração a partir da qual dt = dt2", true},
    {13, "tole", R, "", "tolerância sobre as iterações externas (razão de normas L1, adimensional)",
     "tolerância sobre as iterações externas", false},
    {14, "itmax", I, "", "número máximo de iterações externas (no reinício: iterações a mais)",
     "número máximo de iterações externas", false},
    {15, "imax", I, "", "número de passos do ciclo da massa por iteração (no mínimo 1)",
     "iterações do ciclo da massa", true},
    {16, "tolu", R, "", "tolerância do MSI para u, v e T (adimensional)",
     "tolerância do MSI para u, v, T", true},
    {17, "tolp", R, "", "tolerância do MSI para a correção de pressão p' (adimensional)",
     "tolerância do MSI para p'", true},
    {18, "nitm_u", I, "", "número máximo de iterações internas do MSI para u, v, T",
     "iterações internas do MSI para u, v, T", true},
    {19, "nitm_p", I, "", "número máximo de iterações internas do MSI para p'",
     "iterações internas do MSI para p'", true},
    {20, "beta", R, "", "fator de mistura da correção adiada: 0 = UDS, 1 = CDS (adimensional)",
     "0 = UDS; 1 = CDS", true},
    {21, "ci", I, "", "condição inicial: 1 = solução analítica Q1D, 2 = reinício de caso.bin",
     "1 = solução analítica Q1D; 2 = reinício", false},
    {22, "w_cam", I, "", "1 = escreve os campos na listagem, 0 = não",
     "1 = escreve campos na listagem", false},
    {23, "w_r", I, "", "freqüência (em iterações) de escrita dos resíduos e globais",
     "freqüência de escrita dos resíduos", false},
    {24, "w_g", I, "", "freqüência (em linhas ou pontos) de escrita nos arquivos de gráfico",
     "freqüência de escrita nos gráficos", false},
    {25, "sem_a", I, "", "1 = não abre os arquivos de texto no editor, 0 = abre",
     "1 = não abre arquivos; 0 = abre", false},
    {26, "sem_g", I, "", "1 = não abre os gráficos, 0 = abre", "1 = não abre gráficos; 0 = abre",
     false},
    {27, "hard", T, "", "descrição do computador (só repetida na listagem)", "hardware", false},
    {28, "titulo", T, "", "título do caso (listagem e gráficos)", "título do caso", false},
}};

const CaseItem kWallItem = {
    29, "parede", N, "",
    "opcional: arquivo da parede da tubeira, entre apóstrofos ('conica', 'pontos' ou 'sino'); "
    "sem ele, ou com 'padrao', a parede embutida",
    "arquivo da parede", true};

const CaseItem kSchemeItem = {
    30, "esquema", N, "",
    "opcional, depois do item 29 (que pode ser 'padrao'): esquema de discretização, "
    "'padrao' (o atual) ou 'ordem2' (segunda ordem até a parede, correção adiada limitada)",
    "esquema de discretização", true};

const char* scheme_name(Scheme e) { return kSchemeNames[static_cast<int>(e)]; }

const CaseItem& case_item(int number) {
  if (number == kSchemeItem.number) return kSchemeItem;
  return number == kWallItem.number ? kWallItem : kCaseItems[static_cast<std::size_t>(number - 1)];
}

std::string help_item_lines() {
  std::string text;
  std::vector<const CaseItem*> all;
  for (const CaseItem& it : kCaseItems) all.push_back(&it);
  all.push_back(&kWallItem);
  all.push_back(&kSchemeItem);
  for (const CaseItem* p : all) {
    const CaseItem& it = *p;
    char head[32];
    std::snprintf(head, sizeof head, "  %2d %-8s", it.number, it.name);
    text += head;
    text += it.meaning;
    text += unit_suffix(it);
    text += '\n';
  }
  return text;
}

std::vector<std::string> case_item_values(const CaseData& c) {
  auto i = [](int v) { return std::to_string(v); };
  return {trimmed(c.caso), i(c.coord),      i(c.nx),          i(c.ny),
          real_text(c.po), real_text(c.T0), real_text(c.gama), real_text(c.Rg),
          real_text(c.dt1), real_text(c.dt2), i(c.It1),       i(c.It2),
          real_text(c.tole), i(c.itmax),    i(c.imax),        real_text(c.tolu),
          real_text(c.tolp), i(c.msi_iters_uvT), i(c.msi_iters_p), real_text(c.beta),
          i(c.ci),         i(c.w_cam),      i(c.w_r),         i(c.w_g),
          i(c.sem_a),      i(c.sem_g),      without_trailing_blanks(c.hard),
          without_trailing_blanks(c.titulo)};
}

std::string apostrophed(const std::string& value) {
  std::string r = "'";
  for (char ch : value) r += ch == '\'' ? std::string("''") : std::string(1, ch);
  return r + "'";
}

std::string case_data_line(const CaseItem& item, const std::string& value) {
  const bool text = item.kind == ItemKind::Name || item.kind == ItemKind::Text;
  std::string l = text ? apostrophed(value) : value;
  l += std::string(l.size() < 15 ? 15 - l.size() : 0, ' ');
  return l + " " + to_latin1(std::string(item.name) + ": " + item.note + unit_suffix(item));
}

std::vector<std::string> case_data_lines(const CaseData& c) {
  const std::vector<std::string> values = case_item_values(c);
  std::vector<std::string> lines;
  for (const CaseItem& it : kCaseItems)
    lines.push_back(case_data_line(it, values[static_cast<std::size_t>(it.number - 1)]));
  const bool scheme = c.esquema != Scheme::kPadrao;
  if (!c.parede.empty() || scheme)
    lines.push_back(case_data_line(kWallItem, c.parede.empty() ? kBuiltinWall : c.parede));
  if (scheme) lines.push_back(case_data_line(kSchemeItem, scheme_name(c.esquema)));
  return lines;
}

}  // namespace tx
