#pragma once
// Kalman2D: constant-velocity model of a point moving in a plane, measured in its position.
//
// State (1-based): x(1), x(2) position; x(3), x(4) velocity per measurement step.
//   A = [1 0 1 0; 0 1 0 1; 0 0 1 0; 0 0 0 1]   W = I₄   Q = 0.00673795 · I₄
//   H = [1 0 0 0; 0 1 0 0]                     V = I₂   R = 0.2 · I₂         P₀ = I₄
// Every refresh hook fills its whole matrix, so all six count as changed at every update.

#include <cstdint>

#include "kalman/KFilter.h"

class Kalman2D : public Kalman::KFilter<double, 1, false, false, false> {
  public:
    static constexpr double kProcessNoise = 0.00673795;  // variance of each state component
    static constexpr double kMeasureNoise = 0.2;         // variance of each measured coordinate

    Kalman2D();
    ~Kalman2D() override;

    // Starts a track: state (x, y, 0, 0), covariance the identity.
    void startAt(std::int32_t x, std::int32_t y);
    // One prediction and one correction with the measured position (x, y).
    void track(std::int32_t x, std::int32_t y);

  protected:
    void refreshA() override;
    void refreshW() override;
    void refreshQ() override;
    void refreshH() override;
    void refreshV() override;
    void refreshR() override;
};
