#include "plot.hpp"

#include <cairo.h>
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {

constexpr int imageWidth = 1400;
constexpr int imageHeight = 900;
constexpr double marginLeft = 90;
constexpr double marginRight = 30;
constexpr double marginTop = 78;
constexpr double marginBottom = 56;
constexpr double panelGap = 34;
constexpr const char* fontFamily = "sans-serif";

struct Colour {
  double r, g, b, a = 1.0;
};
constexpr Colour background{1.0, 1.0, 1.0};
constexpr Colour inkColour{0.15, 0.15, 0.18};
constexpr Colour gridColour{0.88, 0.88, 0.90};
constexpr Colour audioColour{0.62, 0.64, 0.68, 0.75};
constexpr Colour outputColour{0.13, 0.42, 0.75, 0.85};
constexpr Colour controlColour{0.90, 0.50, 0.10, 0.85};
constexpr Colour gainColour{0.80, 0.12, 0.16};

void setColour(cairo_t* cr, const Colour& colour) {
  cairo_set_source_rgba(cr, colour.r, colour.g, colour.b, colour.a);
}

// A step of 1, 2 or 5 times a power of ten that divides `span` into about
// `wanted` intervals.
double niceStep(double span, int wanted) {
  if (!(span > 0.0)) return 1.0;
  const double raw = span / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) return factor * power;
  return 10.0 * power;
}

std::string tickText(double value, double step) {
  const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  return fmt::format("{:.{}f}", std::fabs(value) < step * 1e-6 ? 0.0 : value, decimals);
}

// One panel's area and its value range.
struct Panel {
  double left, top, width, height;
  double yMin, yMax;
  double xMax; // seconds
  double x(double seconds) const { return left + width * seconds / xMax; }
  double y(double value) const {
    const double v = std::clamp(value, yMin, yMax);
    return top + height * (yMax - v) / (yMax - yMin);
  }
};

void drawText(cairo_t* cr, const std::string& text, double x, double y, double size, double alignX,
              double alignY, bool bold = false) {
  cairo_select_font_face(cr, fontFamily, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_move_to(cr, x - extents.x_advance * alignX - extents.x_bearing * (1.0 - alignX),
                y - extents.y_bearing - extents.height * alignY);
  cairo_show_text(cr, text.c_str());
}

void drawFrameAndGrid(cairo_t* cr, const Panel& panel, double yStep, const std::string& yTitle,
                      bool timeLabels) {
  const double timeStep = niceStep(panel.xMax, 10);
  cairo_set_line_width(cr, 1.0);
  setColour(cr, gridColour);
  for (double t = 0.0; t <= panel.xMax + timeStep * 1e-6; t += timeStep) {
    cairo_move_to(cr, std::round(panel.x(t)) + 0.5, panel.top);
    cairo_line_to(cr, std::round(panel.x(t)) + 0.5, panel.top + panel.height);
  }
  const double firstY = std::ceil(panel.yMin / yStep - 1e-9) * yStep;
  for (double v = firstY; v <= panel.yMax + yStep * 1e-6; v += yStep) {
    cairo_move_to(cr, panel.left, std::round(panel.y(v)) + 0.5);
    cairo_line_to(cr, panel.left + panel.width, std::round(panel.y(v)) + 0.5);
  }
  cairo_stroke(cr);

  setColour(cr, inkColour);
  for (double v = firstY; v <= panel.yMax + yStep * 1e-6; v += yStep)
    drawText(cr, tickText(v, yStep), panel.left - 8, panel.y(v), 13, 1.0, 0.5);
  if (timeLabels) {
    for (double t = 0.0; t <= panel.xMax + timeStep * 1e-6; t += timeStep)
      drawText(cr, tickText(t, timeStep), panel.x(t), panel.top + panel.height + 8, 13, 0.5, 0.0);
  }
  cairo_save(cr);
  cairo_translate(cr, 22, panel.top + panel.height / 2);
  cairo_rotate(cr, -std::numbers::pi / 2);
  drawText(cr, yTitle, 0, 0, 14, 0.5, 0.5);
  cairo_restore(cr);

  cairo_set_line_width(cr, 1.2);
  cairo_rectangle(cr, panel.left + 0.5, panel.top + 0.5, panel.width - 1, panel.height - 1);
  cairo_stroke(cr);
}

// A filled envelope mirrored around zero.
void drawEnvelope(cairo_t* cr, const Panel& panel, const std::vector<float>& peaks, double windowSeconds,
                  const Colour& colour) {
  if (peaks.empty()) return;
  cairo_new_path(cr);
  for (std::size_t w = 0; w < peaks.size(); ++w)
    cairo_line_to(cr, panel.x((static_cast<double>(w) + 0.5) * windowSeconds), panel.y(peaks[w]));
  for (std::size_t w = peaks.size(); w-- > 0;)
    cairo_line_to(cr, panel.x((static_cast<double>(w) + 0.5) * windowSeconds), panel.y(-peaks[w]));
  cairo_close_path(cr);
  setColour(cr, colour);
  cairo_fill(cr);
}

// The gain as a line, broken where it is unknown.
void drawGain(cairo_t* cr, const Panel& panel, const std::vector<double>& gainDb, double windowSeconds) {
  cairo_new_path(cr);
  bool drawing = false;
  for (std::size_t w = 0; w < gainDb.size(); ++w) {
    if (std::isnan(gainDb[w])) {
      drawing = false;
      continue;
    }
    const double x = panel.x((static_cast<double>(w) + 0.5) * windowSeconds);
    const double y = panel.y(std::isinf(gainDb[w]) ? panel.yMin : gainDb[w]);
    if (drawing)
      cairo_line_to(cr, x, y);
    else
      cairo_move_to(cr, x, y);
    drawing = true;
  }
  setColour(cr, gainColour);
  cairo_set_line_width(cr, 2.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

struct LegendEntry {
  std::string text;
  Colour colour;
};

void drawLegend(cairo_t* cr, const Panel& panel, const std::vector<LegendEntry>& entries) {
  double x = panel.left + panel.width - 12;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    cairo_select_font_face(cr, fontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 13);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, entry->text.c_str(), &extents);
    x -= extents.x_advance;
    const double y = panel.top + 10;
    cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
    cairo_rectangle(cr, x - 26, y - 3, extents.x_advance + 32, 22);
    cairo_fill(cr);
    setColour(cr, entry->colour);
    cairo_rectangle(cr, x - 22, y + 3, 16, 10);
    cairo_fill(cr);
    setColour(cr, inkColour);
    drawText(cr, entry->text, x, y + 8, 13, 0.0, 0.5);
    x -= 40;
  }
}

// The amplitude range of a panel: the loudest peak, rounded up to a step.
double amplitudeRange(const std::vector<float>& a, const std::vector<float>& b) {
  float peak = 0.0f;
  for (const float v : a)
    peak = std::max(peak, v);
  for (const float v : b)
    peak = std::max(peak, v);
  if (!(peak > 0.0f)) return 1.0;
  const double step = niceStep(peak, 4);
  return std::max(step, std::ceil(peak / step - 1e-9) * step);
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// The PNG's bytes on their way to the file. cairo reports only that a
// write failed; this keeps the system's cause of the first failure (errno
// of the write, or of the close that flushes the last bytes), so that a
// full disk can be told from other failures.
class PngFile {
public:
  explicit PngFile(const std::string& path) : stream_(std::fopen(path.c_str(), "wb")) {
    if (stream_ == nullptr) cause_ = errno;
  }
  ~PngFile() {
    if (stream_ != nullptr) std::fclose(stream_);
  }
  PngFile(const PngFile&) = delete;
  PngFile& operator=(const PngFile&) = delete;

  // cairo's write function: `closure` is a PngFile.
  static cairo_status_t write(void* closure, const unsigned char* data, unsigned int length) {
    auto* file = static_cast<PngFile*>(closure);
    if (file == nullptr || (data == nullptr && length > 0)) return CAIRO_STATUS_WRITE_ERROR;
    if (file->stream_ != nullptr && std::fwrite(data, 1, length, file->stream_) == length)
      return CAIRO_STATUS_SUCCESS;
    file->noteFailure();
    return CAIRO_STATUS_WRITE_ERROR;
  }

  // Flushes and closes the file; false when that fails.
  bool close() {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (stream == nullptr) return false;
    if (std::fclose(stream) == 0) return true;
    noteFailure();
    return false;
  }

  // The errno value of the first failure, 0 when the system gave none.
  int cause() const { return cause_; }

private:
  void noteFailure() {
    if (cause_ == 0) cause_ = errno;
  }

  std::FILE* stream_;
  int cause_ = 0;
};

// How writing a PNG file went: cairo's status, and the system's cause of
// a failure (an errno value, 0 when it gave none).
struct PngWritten {
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  int cause = 0;
};

PngWritten writePng(cairo_surface_t* surface, const std::string& path) {
  PngFile png(path);
  PngWritten written;
  written.status = cairo_surface_write_to_png_stream(surface, &PngFile::write, &png);
  if (!png.close() && written.status == CAIRO_STATUS_SUCCESS) written.status = CAIRO_STATUS_WRITE_ERROR;
  written.cause = png.cause();
  return written;
}

} // namespace

void writePlot(const LevelTrace& series, const PlotLabels& labels, PendingFile& file) {
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, imageWidth, imageHeight));
  std::unique_ptr<cairo_t, ContextDeleter> context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
  setColour(cr, background);
  cairo_paint(cr);

  setColour(cr, inkColour);
  drawText(cr, labels.title, marginLeft, 16, 20, 0.0, 0.0, true);
  drawText(cr, labels.subtitle, marginLeft, 44, 14, 0.0, 0.0);

  const double width = imageWidth - marginLeft - marginRight;
  const double available = imageHeight - marginTop - marginBottom - 2 * panelGap;
  const double xMax = std::max(series.durationSeconds(), 1e-3);
  Panel audio{marginLeft, marginTop, width, available * 0.40, 0, 0, xMax};
  Panel control{marginLeft, audio.top + audio.height + panelGap, width, available * 0.25, 0, 0, xMax};
  Panel gain{marginLeft, control.top + control.height + panelGap, width, available * 0.35, 0, 0, xMax};

  audio.yMax = amplitudeRange(series.audioPeak, series.outputPeak);
  audio.yMin = -audio.yMax;
  control.yMax = amplitudeRange(series.controlPeak, {});
  control.yMin = -control.yMax;

  const std::optional<double> deepest = series.deepestGainDb();
  double highest = 0.0;
  for (const double g : series.gainDb)
    if (std::isfinite(g)) highest = std::max(highest, g);
  const double lowest = deepest && std::isfinite(*deepest) ? *deepest : (deepest ? -60.0 : -6.0);
  gain.yMin = std::clamp(std::floor((lowest - 1.0) / 6.0) * 6.0, -60.0, -6.0);
  gain.yMax = std::min(24.0, std::ceil((highest + 1.0) / 3.0) * 3.0);

  drawFrameAndGrid(cr, audio, niceStep(audio.yMax * 2, 4), "amplitude", false);
  drawEnvelope(cr, audio, series.audioPeak, series.windowSeconds(), audioColour);
  drawEnvelope(cr, audio, series.outputPeak, series.windowSeconds(), outputColour);
  drawLegend(cr, audio, {{labels.audioLegend, audioColour}, {labels.outputLegend, outputColour}});

  drawFrameAndGrid(cr, control, niceStep(control.yMax * 2, 4), "control", false);
  if (series.hasControl) {
    drawEnvelope(cr, control, series.controlPeak, series.windowSeconds(), controlColour);
    drawLegend(cr, control, {{labels.controlLegend, controlColour}});
  } else {
    setColour(cr, inkColour);
    drawText(cr, "this effect has no control input", control.left + control.width / 2,
             control.top + control.height / 2, 14, 0.5, 0.5);
  }

  drawFrameAndGrid(cr, gain, niceStep(gain.yMax - gain.yMin, 6), "gain (dB)", true);
  drawGain(cr, gain, series.gainDb, series.windowSeconds());
  drawLegend(cr, gain, {{"gain applied (output / delay-aligned input, RMS)", gainColour}});

  setColour(cr, inkColour);
  drawText(cr, "time (s)", gain.left + gain.width / 2, imageHeight - 22, 14, 0.5, 0.0);

  cairo_surface_flush(surface.get());
  const PngWritten written = writePng(surface.get(), file.temporaryPath());
  context.reset();
  surface.reset();
  // The tool draws one picture at most: give back the font caches, so that
  // leak checkers see every allocation returned.
  cairo_debug_reset_static_data();
  if (written.status == CAIRO_STATUS_SUCCESS) return;
  const std::string message =
      "cannot write picture '" + file.target() +
      "': " + (written.cause != 0 ? std::strerror(written.cause) : cairo_status_to_string(written.status));
  errno = written.cause;
  throw CliError(message);
}

} // namespace tandrel::cli
