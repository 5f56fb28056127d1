// TandrelEffect: the stereo ducker. One input is the control signal, the
// other the audio; the audio is delayed by 256 frames and multiplied by a
// gain that falls as the control's peak over fixed blocks of 128 frames
// rises, ramping linearly from one block's target to the next. Both outputs
// carry the same result.
#pragma once

#include <atomic>
#include <cstdint>

#include "ducking_run.hpp"
#include "frame/extended_effect_base.hpp"
#include "tandrel_vocabulary.hpp"

namespace tandrel {

class TandrelEffect : public ExtendedEffectBase {
public:
  static constexpr std::int32_t programNameLength = textCapacity::programName;

  // A null callback is allowed: every host service then gives its fallback,
  // which lets tests drive the effect with plain arrays and no host. [main]
  explicit TandrelEffect(HostCallback callback);
  ~TandrelEffect() override;

  // False when the delay line could not be obtained; createEffect then
  // destroys the object and answers null.
  bool isUsable() const { return ducker_.line != nullptr; }

  // Reads both input channels and overwrites both output channels with
  // frameCount samples. Inputs are read before outputs are written for each
  // frame, so outputs may share memory with inputs. Must not touch the
  // channel arrays when frameCount is 0 or negative. A broken host's null
  // channel array or channel pointer gets silence in every output that
  // exists, and the state stays as it was. Whatever the parameter values and
  // control samples, the gain stays within [0, 1]; outputs are not flushed
  // (a subnormal result is written as it is).
  // Never allocates, locks or calls the library. [audio]
  void processAudio(float** inputs, float** outputs, std::int32_t frameCount) noexcept override;

  // Index 0 stores Source, 1 stores Ratio, others are ignored; no clamping.
  // When a change takes effect: Source at the start of the next processing
  // call (a call in progress keeps its routing); Ratio at the next block end,
  // where it sets the target gain that the following block ramps to.
  // [any] real-time safe: a relaxed atomic store
  void setParameter(std::int32_t index, float value) noexcept override;
  // Index 1 answers Ratio; every other index answers Source. [any]
  float getParameter(std::int32_t index) noexcept override;

  // Texts, program name and identity. [main]
  void setProgramName(char* name) noexcept override;
  void getProgramName(char* text) noexcept override;
  void getParameterLabel(std::int32_t index, char* text) noexcept override;
  void getParameterDisplay(std::int32_t index, char* text) noexcept override;
  void getParameterName(std::int32_t index, char* text) noexcept override;
  bool getEffectName(char* text) noexcept override;
  bool getVendorString(char* text) noexcept override;
  bool getProductString(char* text) noexcept override;
  std::int32_t getVendorVersion() noexcept override;

  // The parameters as stored, read without synchronisation beyond a relaxed
  // atomic load (a plain load on common processors). [any]
  float source() const { return source_.load(std::memory_order_relaxed); }
  float ratio() const { return ducker_.ratio.load(std::memory_order_relaxed); }
  // Which input carries the control for a Source value (the Source rule of
  // tandrel_vocabulary.hpp).
  static bool routesControlFromInputZero(float source) { return product::routesControlFromInputZero(source); }

  // The run kernel in use: the fastest one the processor runs, chosen at
  // construction. Tests and benchmarks may pick another that runs here, but
  // only while processing is switched off: processAudio reads the choice
  // without synchronisation, and every kernel must give the same bits, so a
  // change in the middle of a call would be a data race for nothing. [main]
  const ducking::Kernel& kernel() const { return *kernel_; }
  void useKernel(const ducking::Kernel& kernel) {
    ducking::foldLanes(ducker_); // the new kernel may use fewer lanes
    kernel_ = &kernel;
  }

private:
  // The effect's state, in declaration order:
  //   source_      parameter 0; below 0.5 the control is input 0, else input 1
  //   ducker_      start and target gains, the delay line, Ratio (parameter 1),
  //                the block's peaks, both positions and the block counter
  //                (ducking_run.hpp)
  // Everything but the parameters persists across calls, so block
  // boundaries do not depend on how the host divides the audio. The two
  // parameters are written by the host's parameter calls while processing
  // runs on another thread, so they are relaxed atomics.
  std::atomic<float> source_{1.0f};
  char programName_[programNameLength + 1] = {};
  ducking::State ducker_;
  const ducking::Kernel* kernel_;

  static_assert(std::atomic<float>::is_always_lock_free);
  static_assert(sizeof(std::atomic<float>) == sizeof(float));
};

} // namespace tandrel
