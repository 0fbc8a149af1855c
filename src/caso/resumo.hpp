// The summary file "<caso>.Extrapolix_3p0" that a run writes for the
// grid-refinement extrapolation: the mean spacing h, then 13 efficiencies
// (2D solution over quasi-1D), one a line, each with its label.
#pragma once

#include <array>

namespace tx {

inline constexpr const char* kSummarySuffix = ".Extrapolix_3p0";
inline constexpr const char* kSummarySpacingLabel = "h médio em X (m)";

struct SummaryQuantity {
  const char* label;  // UTF-8; Latin-1 in the file
  bool plotted;       // drawn against h by the extrapolation's plot script
};

// In file order: quantity 1 is kSummaryQuantities[0].
inline constexpr std::array<SummaryQuantity, 13> kSummaryQuantities = {{
    {"coeficiente de descarga", true},
    {"empuxo dinâmico", false},
    {"empuxo de pressão ao nível do mar (p = 101325 Pa)", false},
    {"empuxo de pressão no vácuo", false},
    {"empuxo total ao nível do mar", false},
    {"empuxo total no vácuo", false},
    {"coeficiente de empuxo ao nível do mar", true},
    {"coeficiente de empuxo no vácuo", true},
    {"velocidade característica", false},
    {"velocidade de ejeção efetiva ao nível do mar", false},
    {"velocidade de ejeção efetiva no vácuo", false},
    {"impulso específico ao nível do mar", false},
    {"impulso específico no vácuo", false},
}};

}  // namespace tx
