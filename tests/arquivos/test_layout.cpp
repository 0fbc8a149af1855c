// Layout-string writer: records checked by hand against the layout rules, and
// numeric fields compared with gfortran's formatted WRITE when it is present.
#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/erro.hpp"
#include "arquivos/layout.hpp"
#include "base/texto.hpp"

namespace fs = std::filesystem;
using tx::FmtValue;
using tx::format_record;
using tx::to_latin1;

namespace {

// Record text from lines given in UTF-8: Latin-1 bytes, CR LF ends.
std::string lines(std::initializer_list<std::string_view> ls) {
  std::string r;
  for (auto l : ls) {
    r += to_latin1(l);
    r += "\r\n";
  }
  return r;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tx_layout_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(Latin1, ConvertsAccentsAndKeepsOtherBytes) {
  EXPECT_EQ(to_latin1("Itera\xC3\xA7\xC3\xA3o"), "Itera\xE7\xE3o");
  EXPECT_EQ(to_latin1("freq\xC3\xBC\xC3\xAAncia \xC3\x8D"), "freq\xFC\xEAncia \xCD");
  EXPECT_EQ(to_latin1("a\xE2\x82\xAC" "b"), "a?b");              // euro sign: beyond Latin-1
  EXPECT_EQ(to_latin1("\xF0\x9F\x98\x80"), "?");                 // 4-byte sequence
  EXPECT_EQ(to_latin1("caf\xE9 x"), "caf\xE9 x");                // stray Latin-1 byte kept
  EXPECT_EQ(to_latin1("\xC3"), "\xC3");                          // truncated sequence kept
  EXPECT_EQ(to_latin1("\xC0\xAF"), std::string("\xC0\xAF"));     // overlong form not decoded
}

TEST(Layout, RealScaleFactorForms) {
  EXPECT_EQ(format_record("(1P,E15.6)", {101325.0}), "   1.013250E+05\r\n");
  EXPECT_EQ(format_record("(E15.6)", {101325.0}), "   0.101325E+06\r\n");
  // 1P holds for the following fields until another P; 1P also scales F.
  EXPECT_EQ(format_record("(1P,E13.6,E13.6,0P,E13.6)", {101325.0, 101325.0, 101325.0}),
            " 1.013250E+05 1.013250E+05 0.101325E+06\r\n");
  EXPECT_EQ(format_record("(1PE12.4,F8.3)", {3.5, 1.2345}), "  3.5000E+00  12.345\r\n");
  EXPECT_EQ(format_record("(2P,E15.6)", {101325.0}), "   10.13250E+04\r\n");
  EXPECT_EQ(format_record("(-1P,E15.6)", {101325.0}), "   0.010132E+07\r\n");
  EXPECT_EQ(format_record("(E15.6E3)", {101325.0}), "  0.101325E+006\r\n");
  // A new write starts without scale factor.
  EXPECT_EQ(format_record("(E15.6)", {-101325.0}), "  -0.101325E+06\r\n");
}

TEST(Layout, RealCornerCases) {
  // Exponent beyond 99 drops the letter; beyond 999 (only with Ee) stars.
  EXPECT_EQ(format_record("(1P,E12.6)", {1e100}), "1.000000+100\r\n");
  EXPECT_EQ(format_record("(1P,E12.6)", {1e-100}), "1.000000-100\r\n");
  EXPECT_EQ(format_record("(1P,E12.6)", {9.99999951e99}), "1.000000+100\r\n");
  EXPECT_EQ(format_record("(E10.3E1)", {1e10}), "**********\r\n");
  // The optional leading zero goes first when the field is tight, then stars.
  EXPECT_EQ(format_record("(E12.6)", {-101325.0}), "-.101325E+06\r\n");
  EXPECT_EQ(format_record("(E11.6)", {-101325.0}), "***********\r\n");
  EXPECT_EQ(format_record("(F3.2,F4.2,F5.2)", {0.5, -0.5, 0.5}), ".50-.50 0.50\r\n");
  EXPECT_EQ(format_record("(F4.1)", {123.4}), "****\r\n");
  EXPECT_EQ(format_record("(F5.0,F5.0)", {3.0, 0.4}), "   3.   0.\r\n");
  // Zero and negative zero, as gfortran writes them.
  EXPECT_EQ(format_record("(E14.6,1P,E14.6)", {0.0, 0.0}), "  0.000000E+00  0.000000E+00\r\n");
  EXPECT_EQ(format_record("(E14.6,F6.2,F6.2)", {-0.0, -0.0, -0.001}),
            " -0.000000E+00 -0.00 -0.00\r\n");
  // Ties of exactly representable values round to even, like the C library.
  EXPECT_EQ(format_record("(F5.2,F5.2,F5.1)", {0.125, 0.375, 0.25}), " 0.12 0.38  0.2\r\n");
  // Large fixed values keep every digit.
  EXPECT_EQ(format_record("(F28.1)", {1e24}), "  999999999999999983222784.0\r\n");
}

TEST(Layout, NonFiniteValuesRightAligned) {
  EXPECT_EQ(format_record("(E15.6,E15.6)", {kNaN, -kNaN}),
            "            NaN            NaN\r\n");
  EXPECT_EQ(format_record("(1P,E15.6,E15.6)", {kInf, -kInf}),
            "       Infinity      -Infinity\r\n");
  EXPECT_EQ(format_record("(F8.2,F8.2,F9.2)", {kInf, -kInf, -kInf}),
            "Infinity    -Inf-Infinity\r\n");
  EXPECT_EQ(format_record("(F3.1,F3.1,F4.1,F2.0)", {kInf, -kInf, -kInf, kNaN}),
            "Inf***-Inf**\r\n");
}

TEST(Layout, Integers) {
  EXPECT_EQ(format_record("(I3,I3,I3,I3)", {1234, -99, -100, 0}), "***-99***  0\r\n");
  EXPECT_EQ(format_record("(I5.3,I4.0,I0,I0)", {7, 0, -42, 2147483647}),
            "  007    -422147483647\r\n");
  EXPECT_EQ(format_record("(I20)", {std::numeric_limits<long long>::min()}),
            "-9223372036854775808\r\n");
}

TEST(Layout, TextValuesAndLiterals) {
  // A writes the whole value, trailing blanks included; Aw cuts from the left
  // end or right-aligns.
  EXPECT_EQ(format_record("('[',A,']')", {"ab  "}), "[ab  ]\r\n");
  EXPECT_EQ(format_record("(A3,'|',A6,'|',A3)", {"abcdef", "abc", "xyz"}),
            "abc|   abc|xyz\r\n");
  // Character values go out byte for byte; only literals are converted.
  EXPECT_EQ(format_record("('é',A)", {"\xC3\xA9\xE9"}), "\xE9\xC3\xA9\xE9\r\n");
  EXPECT_EQ(format_record("('set title ''',A,'''',/,'replot')", {"jato1"}),
            "set title 'jato1'\r\nreplot\r\n");
  EXPECT_EQ(format_record("(\"say \"\"hi\"\" 'x'\")", {}), "say \"hi\" 'x'\r\n");
  EXPECT_EQ(format_record("(X)", {}), " \r\n");
  EXPECT_EQ(format_record("( 2 X , 'a' , 3x ,'b')", {}), "  a   b\r\n");
}

TEST(Layout, TabsCountLatin1Bytes) {
  EXPECT_EQ(format_record("('#',T5,'i',T10,'j',T19,'np',T24,'x (m)',T48,'y (m)')", {}),
            "#   i    j        np   x (m)                   y (m)\r\n");
  // 'Iteração' is 8 bytes once converted, so T14 leaves 5 blanks.
  EXPECT_EQ(format_record("(T1,'Iteração',T14,'fmi / fme',T38,'fme / fm1D',T62,'Fd / Fd1D')", {}),
            "Itera\xE7\xE3o     fmi / fme               fme / fm1D              Fd / Fd1D\r\n");
  EXPECT_EQ(format_record("(/,/,T3,'Iteração',T14,'L1(R)n / L1(R)1',T38,'dt (s)',/)", {}),
            "\r\n\r\n  Itera\xE7\xE3o   L1(R)n / L1(R)1         dt (s)\r\n\r\n");
  // A left tab writes over what is there; moving past the end fills blanks.
  EXPECT_EQ(format_record("('abcdefgh',T10,'X',T3,'y',TR2,'z',TL4,'w',T14)", {}),
            "abwdezgh X   \r\n");
}

TEST(Layout, RecordsFromListingLayouts) {
  EXPECT_EQ(format_record("(/,'Listagem gerada pelo programa Tubrix 5.5.08, de 29 Jan 2009')", {}),
            "\r\nListagem gerada pelo programa Tubrix 5.5.08, de 29 Jan 2009\r\n");
  EXPECT_EQ(format_record("(/,5X,'Dia = ',A12,5X,'Hora = ',A8)", {"(5/3/2009)  ", "8:4:9   "}),
            "\r\n     Dia = (5/3/2009)       Hora = 8:4:9   \r\n");
  EXPECT_EQ(format_record("(2X,I8,1P,E15.6,9X,1P,E15.6)", {12, 0.5, 1.25e-3}),
            "        12   5.000000E-01            1.250000E-03\r\n");
  EXPECT_EQ(format_record("(/,/,F14.2,' = a',/,F14.2,' = b')", {0.0, 1234.5}),
            "\r\n\r\n          0.00 = a\r\n       1234.50 = b\r\n");
  EXPECT_EQ(format_record("(2(I5),I10,2(1P,E24.15))", {3, 4, 25, 0.1, -1.0 / 3.0}),
            "    3    4        25   1.000000000000000E-01  -3.333333333333333E-01\r\n");
}

TEST(Layout, DataEchoRecord) {
  const std::string titulo = tx::padded("Tubeira de teste");
  const std::string caso = tx::padded("jato1");
  const std::string hard = tx::padded("PC 2 nucleos");
  const FmtValue v[] = {titulo, caso, 1, 20, 10, 200, 3.0e6, 3000.0, 1.4, 287.0, 1e-6, 2e-6,
                        10, 100, 1e-8, 1000, 2, 1e-3, 1e-4, 10, 20, 1.0, 1, 0, 10, 1, 1, 1,
                        hard};
  const std::string got = format_record(
      "(/,'título = ',A,/,/,5X,'DADOS',/,/,'caso: nome do experimento numérico = ',A,/,/,I8,12X,'   = coord: sistema de coordenadas: 0=plano; 1=axissimetrico',/,/,I8,12X,'   = nx:  número de volumes reais na direção X',/,I8,12X,'   = ny:  número de volumes reais na direção Y',/,I8,12X,'   = nxy: número total de volumes reais',/,/,1P,E22.9,' = po: pressão de estagnação na entrada da tubeira (Pa)',/,1P,E22.9,' = T0: temperatura de estagnação na entrada da tubeira (K)',/,1P,E22.9,' = gama: razão entre os calores específicos na entrada da tubeira (adimensional)',/,1P,E22.9,' = Rg: constante do gás perfeito (J/kg.K)',/,/,1P,E22.9,' = dt1: incremento de tempo até a iteração It1 (s)',/,1P,E22.9,' = dt2: incremento de tempo a partir da iteração It2 (s)',/,I8,12X,'   = It1: Iteração até a qual dt = dt1',/,I8,12X,'   = It2: Iteração a partir da qual dt = dt2',/,1P,E22.9,' = tole: tolerância sobre as iterações externas (norma L1 adim.)',/,I8,12X,'   = itmax: número máximo de iterações externas',/,I8,12X,'   = imax:  número máximo de iterações no ciclo da massa',/,1P,E22.9,' = tolu: tolerância no MSI para u,v',/,1P,E22.9,' = tolp: tolerância no MSI para plinha',/,I8,12X,'   = nitm_u: número máximo de iterações internas no MSI para u,v,T',/,I8,12X,'   = nitm_p: número máximo de iterações internas no MSI para p''',/,1P,E22.9,' = beta: fator de mistura da correção adiada: 0=UDS; 1=CDS',/,I8,12X,'   = ci - tipo da condição inicial: 1=solução analítica Q1D; 2=reinício',/,/,I8,12X,'   = w_cam: =1, escreve campos;   =0, não',/,I8,12X,'   = w_r:   freqüência de escrita dos resíduos e globais',/,I8,12X,'   = w_g:   freqüência de escrita nos gráficos',/,I8,12X,'   = sem_a: 1=não abre arquivos; 0=abre',/,I8,12X,'   = sem_g: 1=não abre gráficos; 0=abre',/,/,'hard: hardware = ',A)",
      v);
  const std::string want = lines({
      "",
      "título = " + titulo,
      "",
      "     DADOS",
      "",
      "caso: nome do experimento numérico = " + caso,
      "",
      "       1               = coord: sistema de coordenadas: 0=plano; 1=axissimetrico",
      "",
      "      20               = nx:  número de volumes reais na direção X",
      "      10               = ny:  número de volumes reais na direção Y",
      "     200               = nxy: número total de volumes reais",
      "",
      "       3.000000000E+06 = po: pressão de estagnação na entrada da tubeira (Pa)",
      "       3.000000000E+03 = T0: temperatura de estagnação na entrada da tubeira (K)",
      "       1.400000000E+00 = gama: razão entre os calores específicos na entrada da tubeira (adimensional)",
      "       2.870000000E+02 = Rg: constante do gás perfeito (J/kg.K)",
      "",
      "       1.000000000E-06 = dt1: incremento de tempo até a iteração It1 (s)",
      "       2.000000000E-06 = dt2: incremento de tempo a partir da iteração It2 (s)",
      "      10               = It1: Iteração até a qual dt = dt1",
      "     100               = It2: Iteração a partir da qual dt = dt2",
      "       1.000000000E-08 = tole: tolerância sobre as iterações externas (norma L1 adim.)",
      "    1000               = itmax: número máximo de iterações externas",
      "       2               = imax:  número máximo de iterações no ciclo da massa",
      "       1.000000000E-03 = tolu: tolerância no MSI para u,v",
      "       1.000000000E-04 = tolp: tolerância no MSI para plinha",
      "      10               = nitm_u: número máximo de iterações internas no MSI para u,v,T",
      "      20               = nitm_p: número máximo de iterações internas no MSI para p'",
      "       1.000000000E+00 = beta: fator de mistura da correção adiada: 0=UDS; 1=CDS",
      "       1               = ci - tipo da condição inicial: 1=solução analítica Q1D; 2=reinício",
      "",
      "       0               = w_cam: =1, escreve campos;   =0, não",
      "      10               = w_r:   freqüência de escrita dos resíduos e globais",
      "       1               = w_g:   freqüência de escrita nos gráficos",
      "       1               = sem_a: 1=não abre arquivos; 0=abre",
      "       1               = sem_g: 1=não abre gráficos; 0=abre",
      "",
      "hard: hardware = " + hard,
  });
  EXPECT_EQ(got, want);
}

TEST(Layout, ReversionAndEndOfValues) {
  const char* row = "('j=',I4,10(1P,E15.7))";
  EXPECT_EQ(format_record(row, {3, 1.5, -2.25}), "j=   3  1.5000000E+00 -2.2500000E+00\r\n");
  // 11 values fill the first record; the rest resume at the group on a new
  // record, without the 'j=' text.
  std::vector<FmtValue> v{7};
  for (int k = 1; k <= 12; ++k) v.push_back(double(k));
  std::string first = "j=   7";
  for (int k = 1; k <= 10; ++k) first += format_record("(1P,E15.7)", {double(k)}).substr(0, 15);
  EXPECT_EQ(format_record(row, v),
            first + "\r\n  1.1000000E+01  1.2000000E+01\r\n");
  // Without a group the whole layout restarts; the scale factor survives.
  EXPECT_EQ(format_record("('x',1P,E10.3)", {1.0, 2.0}), "x 1.000E+00\r\nx 2.000E+00\r\n");
  EXPECT_EQ(format_record("(1P,E10.3,2(E10.3))", {1.0, 2.0, 3.0, 4.0}),
            " 1.000E+00 2.000E+00 3.000E+00\r\n 4.000E+00\r\n");
  // Reversion goes to the last top-level group, with its repeat count, even
  // when that group holds groups of its own.
  EXPECT_EQ(format_record("(I2,2(I2,2(I1)),'|')", {1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4}),
            " 1 234 567|\r\n 891 234|\r\n");
  // Text and spacing before the field without a value are written; then stop.
  EXPECT_EQ(format_record("(/,'i=',10(I10,5X))", {1, 2}),
            "\r\ni=         1              2     \r\n");
  EXPECT_EQ(format_record("(/,5X,'Norma L1 dos resíduos na iteração 1 =',1P,E15.6)", {}),
            to_latin1("\r\n     Norma L1 dos resíduos na iteração 1 =\r\n"));
  EXPECT_EQ(format_record("('a',I3,:,'b',I3)", {5}), "a  5\r\n");
  EXPECT_EQ(format_record("(3I3)", {1, 2}), "  1  2\r\n");
  EXPECT_EQ(format_record("(2/,'x')", {}), "\r\n\r\nx\r\n");
  EXPECT_EQ(format_record("()", {}), "\r\n");
}

TEST(Layout, BadLayoutsAndValuesThrow) {
  for (const char* bad : {"I4", "(I4", "(I4))", "(Q3)", "(F8)", "(E0.3)", "('abc)", "(I4,,I5)",
                          "(I4,)", "(A0)", "(P,E10.3)", "(-2X)", "(0I4)", "(T0)", "(I2.3)"}) {
    EXPECT_THROW(format_record(bad, {1}), std::invalid_argument) << bad;
  }
  EXPECT_THROW(format_record("(I4)", {1.0}), std::invalid_argument);
  EXPECT_THROW(format_record("(E10.3)", {1}), std::invalid_argument);
  EXPECT_THROW(format_record("(A)", {2}), std::invalid_argument);
  // Values left over and nothing that could take them: no endless output.
  EXPECT_THROW(format_record("('abc')", {1}), std::invalid_argument);
  EXPECT_THROW(format_record("(I3,2('x'))", {1, 2}), std::invalid_argument);
  // The scale factor must leave digits before the exponent.
  EXPECT_THROW(format_record("(-6P,E12.6)", {1.0}), std::invalid_argument);
  EXPECT_THROW(format_record("(8P,E12.6)", {1.0}), std::invalid_argument);
}

TEST(TextFile, WritesRecordsAndRawBytes) {
  TempDir dir;
  const auto p = (dir.path / "a.txt").string();
  {
    tx::TextFile f;
    f.open(p);
    f.write("('n=',I3)", {5});
    tx::TextFile g(std::move(f));  // the open file moves with the object
    EXPECT_FALSE(f.is_open());
    g.put("raw\n");
    g.write("(/)");
  }  // closed by the destructor
  EXPECT_EQ(read_file(p), "n=  5\r\nraw\n\r\n\r\n");
  // Opening again rewrites the file from the start.
  tx::TextFile f;
  f.open(p);
  f.write("('x')");
  f.close();
  EXPECT_FALSE(f.is_open());
  f.close();  // closing twice is harmless
  EXPECT_EQ(read_file(p), "x\r\n");
  EXPECT_THROW(f.put("y"), std::logic_error);
}

TEST(TextFile, OpenFailureNamesTheFile) {
  TempDir dir;
  const auto p = (dir.path / "nao_existe" / "caso.txt").string();
  tx::TextFile f;
  try {
    f.open(p);
    FAIL() << "open should fail";
  } catch (const tx::RunError& e) {
    EXPECT_EQ(e.status(), tx::kExitInput);
    const std::string msg = e.what();
    EXPECT_NE(msg.find("Erro: não foi possível criar o arquivo " + p), std::string::npos) << msg;
  }
  EXPECT_FALSE(f.is_open());
}

// ---- second opinion from gfortran -------------------------------------------

namespace {

std::vector<double> probe_values() {
  std::vector<double> v = {
      0.0, -0.0, 1.0, -1.0, 0.5, 0.125, 0.375, 2.5, 1.5, 0.25, 1.0625, 0.05, 0.15, 0.95,
      0.995, 9.5, 99.5, 999999.5, 9.9999995, 9.99999949999, 0.1, 1.0 / 3.0, 2.0 / 3.0,
      101325.0, 3.0e6, 287.0, 1.4, 1e-5, 123456789.0, 1e22, 1e100, 9.99999951e99, 1e-99,
      9.9999999e-100, 1.0e-100, 5e-324, 2.2250738585072014e-308,
      std::numeric_limits<double>::max(), 12.345, 0.0005, 0.00049999, 1234.5, 0.045,
      kNaN, kInf, -kInf, 4.35, 0.9999995, 99999.95};
  const std::size_t base = v.size();
  for (std::size_t i = 0; i < base; ++i)
    if (!std::isnan(v[i]) && v[i] != 0.0) v.push_back(-v[i]);
  std::mt19937_64 rng(20090129);
  std::uniform_real_distribution<double> mant(1.0, 10.0);
  std::uniform_int_distribution<int> ex(-40, 40);
  for (int k = 0; k < 120; ++k) {
    double x = mant(rng) * std::pow(10.0, ex(rng));
    v.push_back(k % 3 == 0 ? -x : x);
  }
  // Values near a rounding boundary of 6 and 15 digits.
  for (int k = 0; k < 30; ++k) {
    double x = std::round(mant(rng) * 1e6) / 1e6 + 5e-7;
    v.push_back(x * std::pow(10.0, ex(rng) / 4));
  }
  return v;
}

const char* kRealLayouts[] = {
    "E15.6",    "1P,E15.6", "1P,E22.9", "1P,E25.15", "1P,E24.15", "1P,E14.5", "1P,E15.7",
    "E12.6",    "1P,E12.6", "E10.3E3",  "2P,E15.6",  "-1P,E15.6", "F14.2",    "F8.3",
    "F5.2",     "F3.0",     "1P,F12.4", "F30.10",    "E9.2",      "1P,E8.1"};

std::string fortran_real_literal(double x) {
  const auto bits = std::bit_cast<std::int64_t>(x);
  if (bits == std::numeric_limits<std::int64_t>::min()) return "transfer(-9223372036854775807_8-1_8,0d0)";
  return "transfer(" + std::to_string(bits) + "_8,0d0)";
}

}  // namespace

TEST(LayoutVsGfortran, NumericFieldsAgree) {
  if (std::system("command -v gfortran >/dev/null 2>&1") != 0) GTEST_SKIP() << "gfortran absent";
  TempDir dir;
  const auto vals = probe_values();
  const std::vector<int> ints = {0, 1, -1, 7, 999, 1000, -999, -1000, 12345678, 2147483647,
                                 -2147483647 - 1};
  const char* int_layouts[] = {"I4", "I8", "I10", "I3", "I5.2", "I1"};
  struct Multi {
    const char* layout;
    int n;  // reals after one integer
  };
  const Multi multis[] = {{"('j=',I4,10(1P,E15.7))", 13},
                          {"(I8,2X,3(1P,E24.15))", 7},
                          {"(I2,1P,E10.3,2(E10.3,F8.2))", 9}};

  std::ostringstream f;
  f << "program probe\n  implicit none\n  integer :: i\n"
    << "  real(8) :: x(" << vals.size() << ")\n  integer :: k(" << ints.size() << ")\n";
  for (std::size_t i = 0; i < vals.size(); ++i)
    f << "  x(" << i + 1 << ") = " << fortran_real_literal(vals[i]) << "\n";
  for (std::size_t i = 0; i < ints.size(); ++i) {
    if (ints[i] == std::numeric_limits<int>::min())
      f << "  k(" << i + 1 << ") = -2147483647-1\n";
    else
      f << "  k(" << i + 1 << ") = " << ints[i] << "\n";
  }
  // Brackets keep gfortran from dropping trailing blanks and show alignment.
  for (const char* l : kRealLayouts)
    f << "  do i = 1, size(x)\n    write(*,\"('[',"  << l << ",']')\") x(i)\n  end do\n";
  for (const char* l : int_layouts)
    f << "  do i = 1, size(k)\n    write(*,\"('[',"  << l << ",']')\") k(i)\n  end do\n";
  for (const Multi& m : multis)
    f << "  write(*,\"" << m.layout << "\") 42, (x(i), i = 1, " << m.n << ")\n";
  f << "end program probe\n";
  {
    std::ofstream src(dir.path / "probe.f90");
    src << f.str();
  }
  const std::string d = dir.path.string();
  ASSERT_EQ(std::system(("cd '" + d + "' && gfortran -O0 -o probe probe.f90 && ./probe > out.txt")
                            .c_str()),
            0);

  std::vector<std::string> theirs;
  {
    std::ifstream in(dir.path / "out.txt", std::ios::binary);
    for (std::string l; std::getline(in, l);) theirs.push_back(l);
  }
  std::vector<std::string> ours;
  auto add = [&](const std::string& rec) {
    // gfortran ends lines with LF; ours end with CR LF by design.
    std::size_t start = 0;
    for (std::size_t p; (p = rec.find("\r\n", start)) != std::string::npos; start = p + 2)
      ours.push_back(rec.substr(start, p - start));
  };
  for (const char* l : kRealLayouts)
    for (double x : vals) add(format_record(std::string("('[',") + l + ",']')", {x}));
  for (const char* l : int_layouts)
    for (int k : ints) add(format_record(std::string("('[',") + l + ",']')", {k}));
  for (const Multi& m : multis) {
    std::vector<FmtValue> v{42};
    for (int i = 0; i < m.n; ++i) v.push_back(vals[static_cast<std::size_t>(i)]);
    add(format_record(m.layout, v));
  }

  ASSERT_GT(theirs.size(), 4000u);
  ASSERT_EQ(ours.size(), theirs.size());
  int shown = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    if (ours[i] != theirs[i] && shown++ < 20)
      ADD_FAILURE() << "line " << i + 1 << ": ours [" << ours[i] << "] gfortran [" << theirs[i]
                    << "]";
  }
  EXPECT_EQ(shown, 0) << "mismatching lines";
}
