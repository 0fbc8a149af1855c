// The files a run writes, in one list, and the checks made on them before
// the first one is opened: a run that cannot write all of them changes none.
#pragma once

#include <string>
#include <vector>

#include "base/estado.hpp"

namespace tx {

// Suffixes of the outputs named after the case (item 1). A new output of a
// run is one more line here.
inline constexpr const char* kCaseOutputSuffixes[] = {
    ".txt",
    ".itn",
    ".residuo.dat",
    ".bin",
    ".Extrapolix_3p0",
    ".contorno_sul.dat",
    ".contorno_norte.dat",
    ".contorno_oeste.dat",
    ".contorno_leste.dat",
    ".malha.dat",
    ".velocidade_u.dat",
    ".velocidade_v.dat",
    ".pressao.dat",
    ".temperatura.dat",
    ".massa_especifica.dat",
    ".Mach.dat",
    ".empuxo.dat",
    ".vts",
    ".campo.dat",
};

// Every file of the working directory that a run creates or rewrites: the
// case outputs, the plot scripts (kTemplates), the temporary names under
// which the restart file, the field file and the scripts are written before
// replacing the old ones, and the pictures a run without a display renders
// (sem_g = 0).
std::vector<std::string> run_output_files(const State& s);

// Before any output exists (case data read): no output may be the case data
// file or a selection file (compared as files, not as names), every output
// that exists must be a writable regular file, and the working directory
// must take new files. Throws RunError naming the file and the item.
void check_outputs(const State& s);

}  // namespace tx
