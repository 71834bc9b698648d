#include "Recording.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace dravik {
namespace {

// About one MiB of doubles per block, whatever the channel count.
constexpr int kBlockSamples = 1 << 17;

}  // namespace

bool Recording::open(const std::string& path) {
    SF_INFO info{};
    info.format = 0;
    SNDFILE* raw = sf_open(path.c_str(), SFM_READ, &info);
    if (!raw) return false;
    SndfileHandle file(raw);
    if (info.channels < 1 || info.frames < 0) return false;
    file_ = std::move(file);
    channels_ = info.channels;
    frames_ = static_cast<int>(std::min<sf_count_t>(info.frames, INT_MAX));
    sample_rate_ = info.samplerate;
    missing_reported_ = false;
    int block_frames = std::max(1, kBlockSamples / channels_);
    block_.assign(static_cast<std::size_t>(block_frames) * channels_, 0.0);
    return true;
}

void Recording::report_missing(long long frame) {
    if (missing_reported_) return;
    missing_reported_ = true;
    std::printf("cannot read frame=%d\n", static_cast<int>(frame));
}

long long Recording::read(long long start, long long count, const BlockConsumer& consume) {
    if (count <= 0) return 0;
    if (sf_seek(file_.get(), start, SEEK_SET) != start) {
        report_missing(start);
        return 0;
    }
    const int block_frames = static_cast<int>(block_.size() / channels_);
    long long done = 0;
    while (done < count) {
        int want = static_cast<int>(std::min<long long>(block_frames, count - done));
        sf_count_t got = sf_readf_double(file_.get(), block_.data(), want);
        if (got > 0) consume(block_.data(), start + done, static_cast<int>(got));
        if (got > 0) done += got;
        if (got < want) {
            report_missing(start + done);
            break;
        }
    }
    return done;
}

}  // namespace dravik
