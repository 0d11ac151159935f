// Property plumbing shared by our OpenNI 2 depth streams (the virtual
// sensor's and the Kinect's): copying values in and out with the size checks
// OpenNI expects, and the set of stream properties both answer.
#pragma once

#include <cstring>

#include "sim/driver/OniDriver.h"

namespace sim::driver {

// Copies a property value out, checking the caller's buffer size.
template <class T>
OniStatus give(const T& value, void* data, int* pDataSize) {
    if (data == nullptr || pDataSize == nullptr || *pDataSize < static_cast<int>(sizeof(T)))
        return ONI_STATUS_BAD_PARAMETER;
    std::memcpy(data, &value, sizeof(T));
    *pDataSize = sizeof(T);
    return ONI_STATUS_OK;
}

// Copies a property value in; false when the size is not the value's.
template <class T>
bool take(const void* data, int dataSize, T& value) {
    if (data == nullptr || dataSize != static_cast<int>(sizeof(T))) return false;
    std::memcpy(&value, data, sizeof(T));
    return true;
}

// The stream properties a depth stream of ours answers.
inline bool isDepthStreamProperty(int propertyId) {
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE:
        case ONI_STREAM_PROPERTY_HORIZONTAL_FOV:
        case ONI_STREAM_PROPERTY_VERTICAL_FOV:
        case ONI_STREAM_PROPERTY_MAX_VALUE:
        case ONI_STREAM_PROPERTY_MIN_VALUE:
        case ONI_STREAM_PROPERTY_STRIDE:
        case ONI_STREAM_PROPERTY_MIRRORING:
        case ONI_STREAM_PROPERTY_CROPPING:
            return true;
        default:
            return false;
    }
}

}  // namespace sim::driver
