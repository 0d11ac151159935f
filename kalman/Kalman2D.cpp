#include "kalman/Kalman2D.h"

namespace {

constexpr double kIdentity4[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Fills the whole matrix: diagonal entries `diag`, everything else 0.
void fillDiagonal(Kalman2D::Matrix& M, double diag) {
    for (std::size_t i = 1; i <= M.rows(); ++i) {
        for (std::size_t j = 1; j <= M.cols(); ++j) {
            M(i, j) = i == j ? diag : 0.0;
        }
    }
}

}  // namespace

Kalman2D::Kalman2D() {
    setSizes(4, 0, 4, 2, 2);
}

Kalman2D::~Kalman2D() = default;

void Kalman2D::startAt(std::int32_t x, std::int32_t y) {
    Vector x0{static_cast<double>(x), static_cast<double>(y), 0.0, 0.0};
    Matrix P0(4, 4, kIdentity4);
    initState(x0, P0);
}

void Kalman2D::track(std::int32_t x, std::int32_t y) {
    const Vector input{0.0};  // no inputs (nu = 0); the element is ignored
    timeUpdate(input);
    const Vector z{static_cast<double>(x), static_cast<double>(y)};
    measureUpdate(z);
}

void Kalman2D::refreshA() {
    fillDiagonal(A, 1.0);
    A(1, 3) = 1.0;
    A(2, 4) = 1.0;
}

void Kalman2D::refreshW() {
    fillDiagonal(W, 1.0);
}

void Kalman2D::refreshQ() {
    fillDiagonal(Q, kProcessNoise);
}

void Kalman2D::refreshH() {
    fillDiagonal(H, 1.0);
}

void Kalman2D::refreshV() {
    fillDiagonal(V, 1.0);
}

void Kalman2D::refreshR() {
    fillDiagonal(R, kMeasureNoise);
}
