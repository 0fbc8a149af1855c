#include "arquivos/registro.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "base/erro.hpp"
#include "apoio/erros.hpp"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using tx::RunError;

namespace {

using txtest::input_error_of;

class RecordFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tx_registro_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name = "caso.bin") const { return (dir_ / name).string(); }

  static Bytes slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static void spit(const std::string& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }

  fs::path dir_;
};

Bytes payload_of(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
  return b;
}

// Walks the segments of a file image and returns their length bytes.
std::vector<int> segment_marks(const Bytes& f) {
  std::vector<int> marks;
  std::size_t pos = 1;
  for (;;) {
    const int len = f.at(pos);
    marks.push_back(len);
    pos += (len == 129 ? 128 : len) + 2;
    if (len != 129) break;
  }
  EXPECT_EQ(pos + 1, f.size());
  return marks;
}

TEST_F(RecordFileTest, RestartSizedRecordLayout) {
  // nx = 12, ny = 8 counting the fictitious volumes: it, norm1, tcpu, pin and
  // 14 fields of nxy = 96 values.
  const int ny = 8, nxy = 96;
  tx::RecordWriter w;
  w.put_int(7);
  w.put_real(1.5);
  w.put_real(2.5);
  const std::vector<double> col(ny, 3.0), field(nxy, 4.0);
  w.put_reals(col.data(), col.size());
  for (int k = 0; k < 14; ++k) w.put_reals(field.data(), field.size());
  ASSERT_EQ(w.payload().size(), 20u + 8 * ny + 112 * nxy);
  ASSERT_EQ(w.payload().size(), 10836u);

  const std::string p = path();
  tx::write_record_file(p, w.payload());
  EXPECT_EQ(fs::file_size(p), 11008u);
  const Bytes f = slurp(p);
  EXPECT_EQ(f.front(), 75);
  EXPECT_EQ(f.back(), 130);
  const std::vector<int> marks = segment_marks(f);
  ASSERT_EQ(marks.size(), 85u);
  for (std::size_t k = 0; k + 1 < marks.size(); ++k) EXPECT_EQ(marks[k], 129) << k;
  EXPECT_EQ(marks.back(), 84);
  EXPECT_EQ(tx::read_record_file(p), w.payload());
  EXPECT_FALSE(fs::exists(p + ".tmp"));
}

TEST_F(RecordFileTest, SegmentBoundaries) {
  // Empty, one byte, exactly one and two full segments, one past.
  EXPECT_EQ(tx::encode_record_file({}), (Bytes{75, 0, 0, 130}));
  EXPECT_EQ(tx::encode_record_file({9}), (Bytes{75, 1, 9, 1, 130}));
  const struct {
    std::size_t n;
    std::vector<int> marks;
  } cases[] = {{128, {128}}, {256, {129, 128}}, {257, {129, 129, 1}}, {129, {129, 1}}};
  for (const auto& c : cases) {
    const Bytes pl = payload_of(c.n);
    const Bytes f = tx::encode_record_file(pl);
    EXPECT_EQ(f.size(), 1 + c.n + 2 * c.marks.size() + 1) << c.n;
    EXPECT_EQ(segment_marks(f), c.marks) << c.n;
    const std::string p = path("n" + std::to_string(c.n) + ".bin");
    tx::write_record_file(p, pl);
    EXPECT_EQ(slurp(p), f);
    EXPECT_EQ(tx::read_record_file(p), pl) << c.n;
  }
  const std::string p = path("vazio.bin");
  tx::write_record_file(p, {});
  EXPECT_TRUE(tx::read_record_file(p).empty());
}

TEST_F(RecordFileTest, NumbersLittleEndianAndBitIdentical) {
  tx::RecordWriter w;
  w.put_int(0x01020304);
  w.put_real(1.0);
  const Bytes head(w.payload().begin(), w.payload().end());
  EXPECT_EQ(head, (Bytes{4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));

  const double nan_payload = std::bit_cast<double>(std::uint64_t{0x7FF4000000C0FFEEull});
  const double neg_nan = std::bit_cast<double>(std::uint64_t{0xFFF8000000000001ull});
  const std::vector<double> reals = {-0.0,
                                     0.0,
                                     nan_payload,
                                     neg_nan,
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::denorm_min(),
                                     std::numeric_limits<double>::max(),
                                     0.1,
                                     -1.0 / 3.0};
  const std::int32_t ints[] = {std::numeric_limits<std::int32_t>::min(), -1,
                               std::numeric_limits<std::int32_t>::max()};
  for (auto i : ints) w.put_int(i);
  w.put_reals(reals.data(), reals.size());
  for (double x : reals) w.put_real(x);

  const std::string p = path();
  tx::write_record_file(p, w.payload());
  const Bytes back = tx::read_record_file(p);
  tx::RecordReader r(back);
  EXPECT_EQ(r.get_int(), 0x01020304);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(r.get_real()), std::bit_cast<std::uint64_t>(1.0));
  for (auto i : ints) EXPECT_EQ(r.get_int(), i);
  std::vector<double> got(reals.size());
  r.get_reals(got.data(), got.size());
  for (std::size_t k = 0; k < reals.size(); ++k) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(reals[k])) << k;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(r.get_real()), std::bit_cast<std::uint64_t>(reals[k]))
        << k;
  }
  EXPECT_EQ(r.remaining(), 0u);
}

TEST_F(RecordFileTest, ShortPayloadReportsWithoutPartialRead) {
  const Bytes pl = payload_of(11);
  tx::RecordReader r(pl);
  double v[2] = {-1.0, -1.0};
  EXPECT_NE(input_error_of([&] { r.get_reals(v, 2); }).find("pedidos 16 bytes, restam 11"),
            std::string::npos);
  EXPECT_EQ(v[1], -1.0);
  EXPECT_EQ(r.remaining(), 11u);
  r.get_real();
  EXPECT_THROW(r.get_real(), RunError);
  EXPECT_THROW(r.get_int(), RunError);
  r.get_reals(v, 0);
  EXPECT_EQ(r.remaining(), 3u);
}

TEST_F(RecordFileTest, DamagedFilesGiveTheirMessage) {
  const Bytes good = tx::encode_record_file(payload_of(300));  // 129, 129, 44
  const std::string p = path();
  const std::string head = "Erro no arquivo \"" + p + "\": ";
  auto with = [&](Bytes b) {
    spit(p, b);
    return input_error_of([&] { tx::read_record_file(p); });
  };
  auto contains = [](const std::string& msg, const std::string& part) {
    return msg.find(part) != std::string::npos;
  };

  EXPECT_EQ(input_error_of([&] { tx::read_record_file(path("falta.bin")); }),
            "Erro: não foi possível ler o arquivo \"" + path("falta.bin") + "\".");
  EXPECT_EQ(with({}), head + "o arquivo está vazio.");

  Bytes b = good;
  b[0] = 76;
  EXPECT_TRUE(contains(with(b), head + "o primeiro byte vale 76 em vez de 75"));

  b = good;
  b[1 + 129] = 128;  // trailing byte of segment 1
  EXPECT_EQ(with(b), head + "o segmento 1 do registro (byte 1) começa com o comprimento 129 e "
                            "termina com 128; o arquivo está corrompido.");
  b = good;
  b[b.size() - 2] = 45;  // trailing byte of the last segment
  EXPECT_TRUE(contains(with(b), "o segmento 3 do registro (byte 261)"));

  b.assign(good.begin(), good.begin() + 200);  // cut inside segment 2
  EXPECT_TRUE(contains(with(b), "termina no meio do segmento 2"));
  b.assign(good.begin(), good.begin() + 131);  // cut after a full segment
  EXPECT_TRUE(contains(with(b), "termina antes do segmento 2"));
  b.assign(good.begin(), good.begin() + 131);
  b.push_back(130);  // end marker where the record should go on
  EXPECT_TRUE(contains(with(b), "termina antes do segmento 2"));

  b.assign(good.begin(), good.end() - 1);
  EXPECT_EQ(with(b), head + "falta o byte final 130 depois do registro; o arquivo está "
                            "incompleto.");
  b = good;
  b.back() = 0;
  EXPECT_TRUE(contains(with(b), "vem o byte 0 em vez do byte final 130"));

  EXPECT_EQ(with({75}), head + "o arquivo não contém nenhum registro.");
  EXPECT_EQ(with({75, 130}), head + "o arquivo não contém nenhum registro.");
  EXPECT_TRUE(contains(with({75, 200, 1, 200, 130}), "comprimento inválido 200"));
}

TEST_F(RecordFileTest, FailedWriteKeepsThePreviousFile) {
  const std::string p = path();
  const Bytes old_payload = payload_of(500);
  tx::write_record_file(p, old_payload);
  const Bytes old_image = slurp(p);
  const std::string msg = "Erro: não foi possível gravar o arquivo \"" + p + "\"";

  // The temporary cannot be created.
  fs::create_directory(p + ".tmp");
  EXPECT_TRUE(input_error_of([&] { tx::write_record_file(p, payload_of(9)); }).starts_with(msg));
  EXPECT_EQ(slurp(p), old_image);
  fs::remove(p + ".tmp");

  // The rename cannot replace the target; the temporary is cleaned up.
  const std::string d = path("pasta.bin");
  fs::create_directory(d);
  fs::path keep = fs::path(d) / "dentro";
  std::ofstream(keep) << "x";
  EXPECT_TRUE(input_error_of([&] { tx::write_record_file(d, payload_of(9)); })
                  .starts_with("Erro: não foi possível gravar o arquivo \"" + d + "\""));
  EXPECT_TRUE(fs::is_directory(d));
  EXPECT_TRUE(fs::exists(keep));
  EXPECT_FALSE(fs::exists(d + ".tmp"));

  // A folder that does not exist.
  const std::string nowhere = (dir_ / "nao_existe" / "caso.bin").string();
  EXPECT_THROW(tx::write_record_file(nowhere, payload_of(9)), RunError);

  // A successful write replaces the old file completely.
  tx::write_record_file(p, payload_of(3));
  EXPECT_EQ(tx::read_record_file(p), payload_of(3));
  EXPECT_EQ(fs::file_size(p), 7u);
}

}  // namespace
