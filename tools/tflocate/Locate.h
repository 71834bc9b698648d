// Localisation with a transfer-function file's responses as steering
// vectors: the records that pass between the steps of tflocate.
#ifndef VESK_TFLOCATE_LOCATE_H
#define VESK_TFLOCATE_LOCATE_H

#include <array>
#include <complex>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Dense>

namespace vesktools {

enum class Method { NORMMUSIC, MUSIC, SRP_PHAT };
const char* MethodName(Method method);

// One direction: degrees, azimuth in [0, 360) = atan2(y, x), elevation =
// asin(z / |p|); `unit` the unit vector.
struct Direction {
  double azimuthDeg = 0, elevationDeg = 0;
  std::array<double, 3> unit{{1, 0, 0}};
};
Direction DirectionOf(double x, double y, double z);
Direction DirectionFromAngles(double azimuthDeg, double elevationDeg);
double AngleDeg(const Direction& a, const Direction& b);  // great-circle angle, degrees

// The file's source positions as a search grid. Coincident sources (the
// azimuths at a pole) are one "point"; `neighbours` of each point by angle.
// On a regular azimuth x elevation grid `cell` says where each point lies,
// so that a peak can be refined between grid points.
struct SearchGrid {
  std::vector<Direction> points;
  std::vector<std::size_t> pointOfSource;            // [src] -> point
  std::vector<std::size_t> firstSource;              // [point] -> a source at it (the lowest index)
  std::vector<std::vector<std::size_t>> neighbours;  // [point]
  double spacingDeg = 0;                             // median angle from a point to its nearest other point
  bool regular = false;
  // Regular grids only: the axes (degrees) and the point at each cell,
  // cell[el][az] (every azimuth of a pole row names the pole's point).
  std::vector<double> azimuthsDeg, elevationsDeg;
  bool azimuthWraps = false;
  std::vector<std::vector<std::size_t>> cell;
  std::vector<std::array<int, 2>> cellOfPoint;  // [point] -> {el, az}; az -1 at a pole
};
// Throws ToolError when there are no sources or a position is at the origin.
SearchGrid PositionsToGrid(const std::vector<std::array<double, 3>>& positionsMetres);

// Unit-norm steering vectors of the band's bins, laid out for the search:
// re/im[(bin * mics + mic) * directions + src]. A (src, bin) whose response
// is zero on every microphone is all zero.
struct Steering {
  std::string path, kind;  // kind "m2pg" or "gtf"
  int samplingHz = 0;
  std::size_t nfft = 0, numMics = 0, numSources = 0;
  double bandLowHz = 0, bandHighHz = 0;
  std::vector<std::size_t> bins;  // FFT bin numbers (0 .. nfft / 2) in the band that hold a response
  std::vector<float> re, im;
  std::vector<std::array<double, 3>> positions;  // metres, [src]
  std::vector<std::string> warnings;
  const float* Re(std::size_t bin, std::size_t mic) const { return re.data() + (bin * numMics + mic) * numSources; }
  const float* Im(std::size_t bin, std::size_t mic) const { return im.data() + (bin * numMics + mic) * numSources; }
};

struct BandRequest {
  double lowHz = 500.0;
  double highHz = 0.0;  // 0: 0.8 of the Nyquist frequency
};

// Reads a TF file: m2pg as stored, gtf conjugated back (with a warning, its
// normalisations can weight microphones unequally). Throws ToolError naming
// the file when it cannot be read, its bins do not cover its fftLength
// (m2pg: fftLength / 2 + 1 of them), or no bin of the band holds a response.
Steering TfFileToSteering(const std::string& path, const BandRequest& band);

// What the search projects each band bin's responses on: K vectors
// (MUSIC: the signal subspace, weight 1) or M (SRP-PHAT: the eigenvectors
// of the phase-transformed covariance, weighted by their eigenvalues).
struct BlockSubspaces {
  std::size_t perBin = 0;      // vectors per bin; 0 before BlockToSubspaces
  std::vector<char> silent;    // [bin]: no signal, no direction
  std::vector<float> re, im;   // [(bin * perBin + k) * mics + mic]
  std::vector<float> weights;  // [bin * perBin + k]
};

// One block of a recording (its samples) or of given covariances (perBin).
struct BlockCovariance {
  double startS = 0, endS = 0;
  std::size_t frames = 0;
  std::vector<Eigen::MatrixXcd> perBin;  // [bin] mics x mics, when given
  // As the recording's reader hands a block on: its samples, [mic][span],
  // frame f at f * hopSamples, so that the FFTs and covariances are made
  // where the search runs, on every core.
  std::size_t numMics = 0, span = 0, hopSamples = 0;
  std::vector<float> samples;
  BlockSubspaces subspaces;
};

// One thread's work space for the steps below (FFT plan, buffers, solver),
// kept across blocks.
class SubspaceWorkspace {
public:
  SubspaceWorkspace();
  ~SubspaceWorkspace();
  SubspaceWorkspace(SubspaceWorkspace&&) noexcept;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend void BlockToSubspaces(BlockCovariance&, const Steering&, Method, std::size_t, SubspaceWorkspace&);
};

// Fills the block's subspaces unless it has them (and lets its samples go):
// a block of samples is Hann-windowed frame by frame (periodic, the TF's
// nfft), FFT'd (unscaled) and its covariance per band bin is the mean over
// the frames of x x^H; given covariances are taken as they are. The result
// does not depend on the thread.
void BlockToSubspaces(BlockCovariance& block, const Steering& steering, Method method, std::size_t sources,
                      SubspaceWorkspace& space);

struct FrameSettings {
  std::size_t hopSamples = 0;  // 0: nfft / 2
  double blockS = 0.5;
  std::vector<std::size_t> channels;  // recording channel of each TF microphone; empty: 0, 1, ...
};

// Streams RECORDING in frames of nfft samples and hands each block of
// `blockS` seconds (a frame belongs to the block that holds its centre; the
// block's samples for BlockToSubspaces) to `sink` as soon as it is
// complete; memory is one block. Throws ToolError naming the file when
// it lacks a channel, has another rate than the TF file, or is shorter than
// one frame.
void RecordingToBlocks(const std::string& path, const Steering& steering, const FrameSettings& settings,
                       const std::function<void(BlockCovariance&&)>& sink);

// The spatial spectrum over the file's sources, [src], summed over the
// band's bins (BlockToSubspaces first where a block has not been through
// it): MUSIC with K = `sources` (normmusic: each bin's pseudo-spectrum
// divided by its largest value before the sum) or SRP-PHAT (the
// phase-transformed covariance steered by each response's phases). Bins
// are split over the cores in fixed chunks, so the result does not depend
// on how many there are.
std::vector<double> CovarianceToSpectrum(BlockCovariance block, const Steering& steering, Method method,
                                         std::size_t sources);
// The same for several blocks at once, [block][src]: each bin's responses are
// read once for all of them (the search over many directions is bound by
// reading the responses). The subspaces are made on this thread (in `here`'s
// work space, if given); the spectra over chunks of bins on every core, or
// with `here` on this thread alone. The result is the same.
std::vector<std::vector<double>> CovariancesToSpectra(std::vector<BlockCovariance>& blocks, const Steering& steering,
                                                      Method method, std::size_t sources,
                                                      SubspaceWorkspace* here = nullptr);

struct Peak {
  Direction direction;  // refined between grid points on a regular grid
  std::size_t nearestSource = 0;
  double power = 0;  // spectrum value / the block's largest
};
// The K largest local maxima of the spectrum over the grid's points.
std::vector<Peak> SpectrumToPeaks(const std::vector<double>& spectrum, const SearchGrid& grid, std::size_t k);

struct BlockResult {
  double startS = 0, endS = 0;
  std::vector<Peak> peaks;
  std::vector<double> spectrum;   // [point], normalised to its largest; kept only for the plot
  std::vector<double> errorsDeg;  // with a truth: of each assigned peak
};

struct EstimateDirection {
  Direction direction;
  double support = 0;  // share of blocks with a peak at this direction
};
// Gathers the blocks' peaks by direction (a peak joins the strongest
// earlier group within `gateDeg`), most supported first.
std::vector<EstimateDirection> PeaksToEstimate(const std::vector<BlockResult>& blocks, double gateDeg);

struct ErrorSummary {
  double meanDeg = 0, medianDeg = 0, within5Deg = 0;
  std::size_t assigned = 0, misses = 0, falseAlarms = 0;
};
// Assigns each block's peaks to the truth (Hungarian assignment on the
// great-circle angle; pairs beyond `gateDeg` are no assignment), fills
// each block's errorsDeg, and sums up over the recording.
ErrorSummary PeaksToErrors(std::vector<BlockResult>& blocks, const std::vector<Direction>& truth, double gateDeg);

struct LocateRun {
  Steering steering;  // without the vectors once the run is done
  SearchGrid grid;
  Method method = Method::NORMMUSIC;
  std::string recording;
  std::vector<BlockResult> blocks;
  std::vector<EstimateDirection> estimate;
  bool haveTruth = false;
  ErrorSummary errors;
};

struct SelfTestDirection {
  std::size_t source = 0;
  Direction truth, estimate;
  std::size_t estimateSource = 0;
  double errorDeg = 0, nearestOtherDeg = 0, resolutionDeg = 0;
};
struct Ambiguity {
  std::size_t source = 0, other = 0;
  double similarity = 0;  // mean over the band of |a_s^H a_o|^2 for unit-norm responses
};
struct SelfTest {
  double snrDb = 20;
  std::vector<SelfTestDirection> directions;
  std::vector<Ambiguity> ambiguities;
  double meanErrorDeg = 0, medianErrorDeg = 0, maxErrorDeg = 0, resolutionDeg = 0;
};
struct SelfTestSettings {
  double snrDb = 20;
  std::size_t snapshots = 31;        // frames per simulated block
  double ambiguitySimilarity = 0.9;  // a far direction this alike is an ambiguity
  double ambiguityMinDeg = 10;       // "far": beyond the lobe and at least this
};
// Leave-one-out: each source in turn, a block of `snapshots` frames of its
// own response times unit complex Gaussian noise plus white noise at the
// SNR (fixed seed), localised (K = 1) over the other sources only.
SelfTest SteeringToSelfTest(const Steering& steering, const SearchGrid& grid, Method method,
                            const SelfTestSettings& settings);

}  // namespace vesktools

#endif
