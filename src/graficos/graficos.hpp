// Opening the plot scripts: in the plotting program when the machine has a
// display, otherwise rendered to pictures (caso.<name>.png) beside them.
#pragma once

#include <string>
#include <string_view>

#include "base/estado.hpp"

namespace tx {

// How a script draws its plot: the profile and grid scripts build it with
// successive replots (only the last, whole one is wanted in a picture); the
// field map draws its panels once.
enum class Drawing { Replots, Once };

struct PictureSize {
  int width = 900;
  int height = 560;
};

// With sem_g = 0: runs "wgnuplot <script>" when there is a display (or the
// platform cannot tell), else renders the script to caso.<name>.png and
// records the picture in s.pictures. Nothing with sem_g != 0.
void open_plot(State& s, const std::string& script, Drawing drawing = Drawing::Replots,
               PictureSize size = {});

// "caso.<name>.png" for the script "Tubrix_5p5_<name>.gnu".
std::string picture_name(std::string_view caso, std::string_view script);

// The shell command that renders a script to a PNG with the pngcairo terminal.
std::string render_command(std::string_view script, std::string_view png, Drawing drawing,
                           PictureSize size);

// One console line saying where the pictures of this run are, if any.
void report_pictures(const State& s);

}  // namespace tx
