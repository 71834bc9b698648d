// A finished transfer-function array to the in-memory transfer-function file.
#ifndef TRELVIX_TF_TFTOVESKFILE_H
#define TRELVIX_TF_TFTOVESKFILE_H

#include <cstdint>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "tf/MultiDimVector.h"
#include "tf/TFMakingParameters.h"
#include "veskio2/Vesk.h"
#include "veskio2/VeskConfig.h"

namespace trelvix {

// Builds the file with the data sets vgtf::Fmt, vgtf::M2PG or vgtf::GTF (by
// tfType) and vgtf::Spec, in this order. Source positions in metres,
// nfft and irLength in samples, samplingFreq in Hz. Throws "Empty TF vector"
// when the array is empty at index 0 in any dimension, and NotInitialized
// for a microphone list or position that is unset. The values move into the
// file's data set; nothing of the array is copied.
boost::shared_ptr<veskio2::vesk::VeskFile> AssembleTFFile(
    TFArray&& tf, const std::vector<veskio2::Vector3<float>>& sourcePositions,
    const boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0>& micArray, uint32_t nfft, uint32_t irLength,
    uint32_t samplingFreq, TFType tfType);

// The same from a copy of `tf`.
boost::shared_ptr<veskio2::vesk::VeskFile> AssembleTFFile(
    const TFArray& tf, const std::vector<veskio2::Vector3<float>>& sourcePositions,
    const boost::shared_ptr<veskio2::veskconfig::MicArrayLocationFile2_0>& micArray, uint32_t nfft, uint32_t irLength,
    uint32_t samplingFreq, TFType tfType);

}  // namespace trelvix

#endif
