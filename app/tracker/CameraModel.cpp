#include "app/tracker/CameraModel.h"

#include <cmath>

namespace tracker {

CameraModel::CameraModel(int width, int height, float horizontalFov, float verticalFov)
    : width_(width > 0 ? width : 1),
      height_(height > 0 ? height : 1),
      horizontalFov_(horizontalFov),
      verticalFov_(verticalFov),
      xzFactor_(std::tan(horizontalFov / 2) * 2),
      yzFactor_(std::tan(verticalFov / 2) * 2),
      coeffX_(static_cast<float>(width_) / xzFactor_),
      coeffY_(static_cast<float>(height_) / yzFactor_),
      halfResX_(width_ / 2),
      halfResY_(height_ / 2) {}

}  // namespace tracker
