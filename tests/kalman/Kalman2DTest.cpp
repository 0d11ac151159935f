// The constant-velocity cursor model: reference values and agreement with a textbook
// covariance-form Kalman filter.

#include <gtest/gtest.h>

#include <random>

#include "kalman/Kalman2D.h"

namespace {

// Textbook Kalman filter in covariance form for the same model, written independently of the
// U-D code:  P ← A P Aᵀ + Q,  K = P Hᵀ (H P Hᵀ + R)⁻¹,  x ← x + K (z − H x),  P ← (I − K H) P.
struct TextbookFilter {
    double x[4] = {};
    double P[4][4] = {};
    double q = Kalman2D::kProcessNoise;
    double r = Kalman2D::kMeasureNoise;

    void start(double px, double py) {
        x[0] = px, x[1] = py, x[2] = 0, x[3] = 0;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                P[i][j] = i == j ? 1.0 : 0.0;
            }
        }
    }

    void step(double zx, double zy) {
        const double A[4][4] = {{1, 0, 1, 0}, {0, 1, 0, 1}, {0, 0, 1, 0}, {0, 0, 0, 1}};
        double xp[4] = {}, AP[4][4] = {}, Pp[4][4] = {};
        for (int i = 0; i < 4; ++i) {
            for (int k = 0; k < 4; ++k) {
                xp[i] += A[i][k] * x[k];
            }
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                for (int k = 0; k < 4; ++k) {
                    AP[i][j] += A[i][k] * P[k][j];
                }
            }
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                for (int k = 0; k < 4; ++k) {
                    Pp[i][j] += AP[i][k] * A[j][k];
                }
                if (i == j) {
                    Pp[i][j] += q;
                }
            }
        }
        // H selects the first two components: S = Pp[0..1][0..1] + R, K = Pp[:, 0..1] S⁻¹.
        const double s00 = Pp[0][0] + r, s01 = Pp[0][1], s10 = Pp[1][0], s11 = Pp[1][1] + r;
        const double det = s00 * s11 - s01 * s10;
        const double i00 = s11 / det, i01 = -s01 / det, i10 = -s10 / det, i11 = s00 / det;
        double K[4][2];
        for (int i = 0; i < 4; ++i) {
            K[i][0] = Pp[i][0] * i00 + Pp[i][1] * i10;
            K[i][1] = Pp[i][0] * i01 + Pp[i][1] * i11;
        }
        const double dzx = zx - xp[0], dzy = zy - xp[1];
        for (int i = 0; i < 4; ++i) {
            x[i] = xp[i] + K[i][0] * dzx + K[i][1] * dzy;
        }
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                P[i][j] = Pp[i][j] - K[i][0] * Pp[0][j] - K[i][1] * Pp[1][j];
            }
        }
    }
};

TEST(Kalman2D, StartsAtThePositionWithZeroVelocity) {
    Kalman2D f;
    f.startAt(100, 200);
    const auto& x = f.getState();
    EXPECT_EQ(x(1), 100.0);
    EXPECT_EQ(x(2), 200.0);
    EXPECT_EQ(x(3), 0.0);
    EXPECT_EQ(x(4), 0.0);
}

TEST(Kalman2D, RepeatedPositionStaysPut) {
    Kalman2D f;
    f.startAt(100, 200);
    f.track(100, 200);
    const auto& x = f.getState();
    EXPECT_DOUBLE_EQ(x(1), 100.0);
    EXPECT_DOUBLE_EQ(x(2), 200.0);
    EXPECT_DOUBLE_EQ(x(3), 0.0);
    EXPECT_DOUBLE_EQ(x(4), 0.0);
}

TEST(Kalman2D, StepToTheRightMatchesReferenceState) {
    Kalman2D f;
    f.startAt(100, 200);
    f.track(110, 200);
    const auto& x = f.getState();
    EXPECT_NEAR(x(1), 109.0937, 5e-5);
    EXPECT_NEAR(x(2), 200.0, 5e-5);
    EXPECT_NEAR(x(3), 4.5316, 5e-5);
    EXPECT_NEAR(x(4), 0.0, 5e-5);
}

TEST(Kalman2D, FollowsAMovingPointAsReferenceOutputs) {
    Kalman2D f;
    f.startAt(100, 200);
    const int path[][2] = {{110, 200}, {120, 205}, {135, 207}, {150, 215}};
    const int expected[][2] = {{109, 200}, {118, 204}, {132, 206}, {148, 213}};
    for (int i = 0; i < 4; ++i) {
        f.track(path[i][0], path[i][1]);
        EXPECT_EQ(static_cast<int>(f.getState()(1)), expected[i][0]) << "step " << i;
        EXPECT_EQ(static_cast<int>(f.getState()(2)), expected[i][1]) << "step " << i;
    }
}

TEST(Kalman2D, AgreesWithTextbookFilterOnRandomPositions) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> jump(-40, 40);
    std::uniform_int_distribution<int> restartDice(0, 99);
    Kalman2D f;
    TextbookFilter ref;
    int px = 960, py = 540;
    f.startAt(px, py);
    ref.start(px, py);
    for (int step = 0; step < 400; ++step) {
        px += jump(rng);
        py += jump(rng);
        if (restartDice(rng) == 0) {  // an occasional new track
            f.startAt(px, py);
            ref.start(px, py);
            continue;
        }
        f.track(px, py);
        ref.step(px, py);
        const auto& x = f.getState();
        for (int i = 0; i < 4; ++i) {
            ASSERT_NEAR(x(i + 1), ref.x[i], 1e-6) << "step " << step;
        }
        const auto P = f.calculateP();
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                ASSERT_NEAR(P(i + 1, j + 1), ref.P[i][j], 1e-6) << "step " << step;
            }
        }
    }
}

TEST(Kalman2D, LongStillTrackKeepsACovarianceThatIsSymmetricAndPositive) {
    Kalman2D f;
    f.startAt(500, 500);
    for (int i = 0; i < 100000; ++i) {
        f.track(500, 500);
    }
    const auto P = f.calculateP();
    for (std::size_t i = 1; i <= 4; ++i) {
        EXPECT_GT(P(i, i), 0.0);
        for (std::size_t j = 1; j <= 4; ++j) {
            EXPECT_NEAR(P(i, j), P(j, i), 1e-15);
        }
    }
    EXPECT_DOUBLE_EQ(f.getState()(1), 500.0);
}

}  // namespace
