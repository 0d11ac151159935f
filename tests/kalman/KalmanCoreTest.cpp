// The Kalman filter core: U-D numerics, the scalar filter against its closed form, the hook
// protocol and the handling of sizes and storage.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kalman/KFilter.h"
#include "kalman/Kalman2D.h"
#include "kalman/UDFactor.h"

namespace {

using Matrix = Kalman::KMatrix<double, 1>;
using Vector = Kalman::KVector<double, 1>;

// U D Uᵀ of a factorised dim × dim block.
Matrix recompose(const Matrix& F, std::size_t dim) {
    Matrix out(dim, dim);
    auto u = [&](std::size_t i, std::size_t k) { return i == k ? 1.0 : (i < k ? F(i, k) : 0.0); };
    for (std::size_t i = 1; i <= dim; ++i) {
        for (std::size_t j = 1; j <= dim; ++j) {
            double s = 0;
            for (std::size_t k = 1; k <= dim; ++k) {
                s += u(i, k) * F(k, k) * u(j, k);
            }
            out(i, j) = s;
        }
    }
    return out;
}

Matrix randomSpd(std::size_t dim, std::mt19937& rng) {
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Matrix G(dim, dim);
    for (std::size_t i = 1; i <= dim; ++i) {
        for (std::size_t j = 1; j <= dim; ++j) {
            G(i, j) = dist(rng);
        }
    }
    Matrix M(dim, dim);
    for (std::size_t i = 1; i <= dim; ++i) {
        for (std::size_t j = 1; j <= dim; ++j) {
            double s = i == j ? 0.5 : 0.0;
            for (std::size_t k = 1; k <= dim; ++k) {
                s += G(i, k) * G(j, k);
            }
            M(i, j) = s;
        }
    }
    return M;
}

TEST(UDFactor, IdentityGivesUnitFactors) {
    Matrix M(4, 4);
    for (std::size_t i = 1; i <= 4; ++i) {
        M(i, i) = 1.0;
    }
    Kalman::factorUD(M, 4);
    for (std::size_t i = 1; i <= 4; ++i) {
        for (std::size_t j = 1; j <= 4; ++j) {
            EXPECT_EQ(M(i, j), i == j ? 1.0 : 0.0);
        }
    }
}

TEST(UDFactor, RecomposesRandomSymmetricPositiveMatrices) {
    std::mt19937 rng(7);
    for (std::size_t dim = 1; dim <= 6; ++dim) {
        const Matrix M = randomSpd(dim, rng);
        Matrix F = M;
        Kalman::factorUD(F, dim);
        const Matrix back = recompose(F, dim);
        for (std::size_t i = 1; i <= dim; ++i) {
            EXPECT_GT(F(i, i), 0.0);
            for (std::size_t j = 1; j <= dim; ++j) {
                EXPECT_NEAR(back(i, j), M(i, j), 1e-12);
            }
            for (std::size_t j = 1; j < i; ++j) {
                EXPECT_EQ(F(i, j), M(i, j)) << "lower triangle";
            }
        }
    }
}

TEST(UDFactor, FactorisesLeadingBlockOfWiderMatrix) {
    std::mt19937 rng(3);
    const Matrix M = randomSpd(3, rng);
    Matrix wide(3, 5);
    for (std::size_t i = 1; i <= 3; ++i) {
        for (std::size_t j = 1; j <= 3; ++j) {
            wide(i, j) = M(i, j);
        }
        wide(i, 4) = 42.0;
        wide(i, 5) = -7.0;
    }
    Kalman::factorUD(wide, 3);
    Matrix F(3, 3);
    for (std::size_t i = 1; i <= 3; ++i) {
        for (std::size_t j = 1; j <= 3; ++j) {
            F(i, j) = wide(i, j);
        }
        EXPECT_EQ(wide(i, 4), 42.0);
        EXPECT_EQ(wide(i, 5), -7.0);
    }
    const Matrix back = recompose(F, 3);
    for (std::size_t i = 1; i <= 3; ++i) {
        for (std::size_t j = 1; j <= 3; ++j) {
            EXPECT_NEAR(back(i, j), M(i, j), 1e-12);
        }
    }
}

TEST(UDFactor, UnitUpperInverseIsStoredTransposedBelowDiagonal) {
    std::mt19937 rng(11);
    const std::size_t dim = 5;
    Matrix F = randomSpd(dim, rng);
    Kalman::factorUD(F, dim);
    const Matrix factors = F;
    Kalman::invertUnitUpper(F, dim);
    for (std::size_t i = 1; i <= dim; ++i) {
        for (std::size_t j = i; j <= dim; ++j) {
            EXPECT_EQ(F(i, j), factors(i, j)) << "U, D kept";
        }
    }
    // U · U⁻¹ = I, with (U⁻¹)[k][j] at F(j, k).
    auto u = [&](std::size_t i, std::size_t k) { return i == k ? 1.0 : (i < k ? F(i, k) : 0.0); };
    auto inv = [&](std::size_t k, std::size_t j) { return k == j ? 1.0 : (k < j ? F(j, k) : 0.0); };
    for (std::size_t i = 1; i <= dim; ++i) {
        for (std::size_t j = 1; j <= dim; ++j) {
            double s = 0;
            for (std::size_t k = 1; k <= dim; ++k) {
                s += u(i, k) * inv(k, j);
            }
            EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12);
        }
    }
}

// x ← a x + w, z = x + v: every matrix is 1 × 1 and filled once, in the setup hooks.
template <unsigned BEG>
class ScalarModel : public Kalman::KFilter<double, BEG> {
  public:
    using typename Kalman::KFilter<double, BEG>::Matrix;
    using typename Kalman::KFilter<double, BEG>::Vector;

    ScalarModel(double a, double q, double r) : a_(a), q_(q), r_(r) {
        this->setSizes(1, 0, 1, 1, 1);
    }

    void start(double x0, double p0) {
        Vector x{x0};
        Matrix P(1, 1, &p0);
        this->initState(x, P);
    }
    // Changes Q without reporting it through a hook.
    void overwriteQ(double q) { this->Q(BEG, BEG) = q; }
    void reportQNextTime(double q) {
        q_ = q;
        reportQ_ = true;
    }

  protected:
    void setupA() override { this->A(BEG, BEG) = a_; }
    void setupW() override { this->W(BEG, BEG) = 1.0; }
    void setupQ() override { this->Q(BEG, BEG) = q_; }
    void setupH() override { this->H(BEG, BEG) = 1.0; }
    void setupV() override { this->V(BEG, BEG) = 1.0; }
    void setupR() override { this->R(BEG, BEG) = r_; }
    void refreshQ() override {
        if (!reportQ_) {
            this->changed = false;
            return;
        }
        this->Q(BEG, BEG) = q_;
        reportQ_ = false;
    }

  private:
    double a_, q_, r_;
    bool reportQ_ = false;
};

TEST(KalmanScalar, MeasurementUpdateMatchesClosedForm) {
    const double p = 2.0, r = 0.5, x = 3.0, z = 7.0;
    ScalarModel<1> f(1.0, 0.1, r);
    f.start(x, p);
    f.measureUpdate(Vector{z});
    EXPECT_NEAR(f.getState()(1), x + p / (p + r) * (z - x), 1e-12);
    EXPECT_NEAR(f.calculateP()(1, 1), p * r / (p + r), 1e-12);
}

TEST(KalmanScalar, PredictCorrectCyclesMatchClosedForm) {
    const double a = 0.9, q = 0.3, r = 1.5;
    ScalarModel<1> f(a, q, r);
    double x = 5.0, p = 4.0;
    f.start(x, p);
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (int step = 0; step < 50; ++step) {
        const double z = 10.0 + noise(rng);
        f.timeUpdate(Vector{});
        f.measureUpdate(Vector{z});
        x = a * x;
        p = a * a * p + q;
        x += p / (p + r) * (z - x);
        p = p * r / (p + r);
        ASSERT_NEAR(f.getState()(1), x, 1e-10) << "step " << step;
        ASSERT_NEAR(f.calculateP()(1, 1), p, 1e-10) << "step " << step;
    }
}

TEST(KalmanScalar, IndexBaseZeroGivesTheSameFilter) {
    ScalarModel<0> zero(0.9, 0.3, 1.5);
    ScalarModel<1> one(0.9, 0.3, 1.5);
    zero.start(1.0, 2.0);
    one.start(1.0, 2.0);
    for (double z : {3.0, -1.0, 4.5}) {
        zero.timeUpdate({});
        one.timeUpdate({});
        zero.measureUpdate({z});
        one.measureUpdate({z});
        EXPECT_DOUBLE_EQ(zero.getState()(0), one.getState()(1));
    }
}

TEST(KalmanScalar, UnreportedChangeKeepsFactorisedQ) {
    // Q is factorised only when a hook reports it changed: writing it behind the filter's back
    // has no effect until a refresh hook reports it.
    ScalarModel<1> quiet(1.0, 0.3, 1.0);
    ScalarModel<1> reference(1.0, 0.3, 1.0);
    ScalarModel<1> reported(1.0, 0.3, 1.0);
    for (auto* f : {&quiet, &reference, &reported}) {
        f->start(0.0, 1.0);
        f->timeUpdate({});
        f->measureUpdate({1.0});
    }
    quiet.overwriteQ(5.0);
    reported.reportQNextTime(5.0);
    for (auto* f : {&quiet, &reference, &reported}) {
        f->timeUpdate({});
        f->measureUpdate({2.0});
    }
    EXPECT_DOUBLE_EQ(quiet.getState()(1), reference.getState()(1));
    EXPECT_DOUBLE_EQ(quiet.calculateP()(1, 1), reference.calculateP()(1, 1));
    EXPECT_NE(reported.getState()(1), reference.getState()(1));
}

// A general linear model with dense, correlated matrices (n = 3, nu = 1, nw = 2, m = 2, nv = 3),
// so that W·U_Q, the decorrelation of V R Vᵀ and B u all matter.
class DenseModel : public Kalman::KFilter<double, 1> {
  public:
    static constexpr Size kN = 3, kNu = 1, kNw = 2, kM = 2, kNv = 3;
    using Dense = std::vector<std::vector<double>>;
    Dense a{{0.9, 0.2, 0.0}, {-0.1, 1.0, 0.3}, {0.05, 0.0, 0.8}};
    Dense b{{0.5}, {0.0}, {1.0}};
    Dense w{{1.0, 0.2}, {0.0, 1.0}, {0.4, -0.3}};
    Dense q{{0.3, 0.1}, {0.1, 0.2}};
    Dense h{{1.0, 0.5, 0.0}, {0.0, 1.0, -1.0}};
    Dense v{{1.0, 0.3, 0.0}, {0.2, 1.0, 0.5}};
    Dense r{{0.5, 0.2, 0.1}, {0.2, 0.4, 0.05}, {0.1, 0.05, 0.3}};

    DenseModel() { setSizes(kN, kNu, kNw, kM, kNv); }
    void start(const Dense& x0, const Dense& p0) {
        Vector x(kN);
        Matrix P(kN, kN);
        for (Size i = 0; i < kN; ++i) {
            x(i + 1) = x0[i][0];
            for (Size j = 0; j < kN; ++j) {
                P(i + 1, j + 1) = p0[i][j];
            }
        }
        initState(x, P);
    }

  protected:
    static void fill(Matrix& M, const Dense& d) {
        for (std::size_t i = 0; i < d.size(); ++i) {
            for (std::size_t j = 0; j < d[i].size(); ++j) {
                M(i + 1, j + 1) = d[i][j];
            }
        }
    }
    void setupA() override { fill(A, a); }
    void setupW() override { fill(W, w); }
    void setupQ() override { fill(Q, q); }
    void setupB() override { fill(B, b); }
    void setupH() override { fill(H, h); }
    void setupV() override { fill(V, v); }
    void setupR() override { fill(R, r); }
    void refreshA() override { refresh(refill.A, A, a); }
    void refreshW() override { refresh(refill.W, W, w); }
    void refreshQ() override { refresh(refill.Q, Q, q); }
    void refreshH() override { refresh(refill.H, H, h); }
    void refreshV() override { refresh(refill.V, V, v); }
    void refreshR() override { refresh(refill.R, R, r); }

  public:
    // Which refresh hooks fill (and so report) their matrix; the others report "unchanged".
    struct {
        bool A = true, W = true, Q = true, H = true, V = true, R = true;
    } refill;

  private:
    void refresh(bool doFill, Matrix& M, const Dense& d) {
        if (doFill) {
            fill(M, d);
        } else {
            changed = false;
        }
    }
};

// Dense textbook Kalman filter in covariance form for DenseModel.
struct DenseTextbook {
    using Dense = DenseModel::Dense;
    static Dense mul(const Dense& x, const Dense& y) {
        Dense out(x.size(), std::vector<double>(y[0].size(), 0.0));
        for (std::size_t i = 0; i < x.size(); ++i) {
            for (std::size_t j = 0; j < y[0].size(); ++j) {
                for (std::size_t k = 0; k < y.size(); ++k) {
                    out[i][j] += x[i][k] * y[k][j];
                }
            }
        }
        return out;
    }
    static Dense tr(const Dense& x) {
        Dense out(x[0].size(), std::vector<double>(x.size()));
        for (std::size_t i = 0; i < x.size(); ++i) {
            for (std::size_t j = 0; j < x[0].size(); ++j) {
                out[j][i] = x[i][j];
            }
        }
        return out;
    }
    static Dense add(Dense x, const Dense& y, double f = 1.0) {
        for (std::size_t i = 0; i < x.size(); ++i) {
            for (std::size_t j = 0; j < x[0].size(); ++j) {
                x[i][j] += f * y[i][j];
            }
        }
        return x;
    }
    static Dense inv2(const Dense& s) {
        const double det = s[0][0] * s[1][1] - s[0][1] * s[1][0];
        return {{s[1][1] / det, -s[0][1] / det}, {-s[1][0] / det, s[0][0] / det}};
    }

    const DenseModel& model;
    Dense x, P;

    void predict(double u) {
        x = add(mul(model.a, x), mul(model.b, {{u}}));
        P = add(mul(mul(model.a, P), tr(model.a)), mul(mul(model.w, model.q), tr(model.w)));
    }
    void correct(const Dense& z) {
        const Dense rt = mul(mul(model.v, model.r), tr(model.v));
        const Dense pht = mul(P, tr(model.h));
        const Dense k = mul(pht, inv2(add(mul(model.h, pht), rt)));
        x = add(x, mul(k, add(z, mul(model.h, x), -1.0)));
        P = add(P, mul(mul(k, model.h), P), -1.0);
    }
};

TEST(KalmanGeneral, CorrelatedNoiseAndInputsMatchTextbookFilter) {
    DenseModel f;
    DenseTextbook ref{
        f, {{1.0}, {-2.0}, {0.5}}, {{2.0, 0.3, 0.1}, {0.3, 1.0, 0.2}, {0.1, 0.2, 1.5}}};
    f.start(ref.x, ref.P);
    std::mt19937 rng(17);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int step = 0; step < 300; ++step) {
        const double u = noise(rng);
        const DenseModel::Dense z{{noise(rng) * 3.0}, {noise(rng) * 3.0}};
        f.timeUpdate(Vector{u});
        ref.predict(u);
        f.measureUpdate(Vector{z[0][0], z[1][0]});
        ref.correct(z);
        for (std::size_t i = 0; i < 3; ++i) {
            ASSERT_NEAR(f.getState()(i + 1), ref.x[i][0], 1e-9) << "step " << step;
        }
        const auto P = f.calculateP();
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 3; ++j) {
                ASSERT_NEAR(P(i + 1, j + 1), ref.P[i][j], 1e-9) << "step " << step;
            }
        }
    }
}

TEST(KalmanGeneral, ChangesReportedLaterReachEveryDerivedQuantity) {
    // The matrices are filled once in the setup hooks; later only Q, V and R change, each
    // reported by its refresh hook for one update. Every product and factorisation that depends on
    // them (W·U_Q, V R Vᵀ and its factors, U_R⁻¹ H) must follow.
    DenseModel f;
    f.refill = {false, false, false, false, false, false};
    DenseTextbook ref{
        f, {{0.0}, {0.0}, {0.0}}, {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
    f.start(ref.x, ref.P);
    std::mt19937 rng(23);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int step = 0; step < 60; ++step) {
        f.refill = {false, false, false, false, false, false};
        if (step == 20) {
            f.q = {{0.05, -0.02}, {-0.02, 0.6}};
            f.refill.Q = true;
        }
        if (step == 40) {
            f.v = {{1.0, 0.0, 0.7}, {-0.4, 1.0, 0.0}};
            f.r = {{0.9, -0.3, 0.0}, {-0.3, 0.2, 0.02}, {0.0, 0.02, 0.1}};
            f.refill.V = f.refill.R = true;
        }
        const double u = noise(rng);
        const DenseModel::Dense z{{noise(rng)}, {noise(rng)}};
        f.timeUpdate(Vector{u});
        ref.predict(u);
        f.measureUpdate(Vector{z[0][0], z[1][0]});
        ref.correct(z);
        for (std::size_t i = 0; i < 3; ++i) {
            ASSERT_NEAR(f.getState()(i + 1), ref.x[i][0], 1e-9) << "step " << step;
        }
    }
}

// Records every hook in the order the filter calls it.
class RecordingModel : public Kalman::KFilter<double, 1> {
  public:
    RecordingModel(Size n, Size m) { setSizes(n, 0, n, m, m); }
    void resize(Size n, Size m) { setSizes(n, 0, n, m, m); }
    void resize(Size n, Size m, Size nw, Size nv) { setSizes(n, 0, nw, m, nv); }
    void start(Size n) {
        Vector x0(n, 1.0);
        Matrix P0(n, n);
        for (Size i = 1; i <= n; ++i) {
            P0(i, i) = 1.0;
        }
        initState(x0, P0);
    }
    const double* storageOfA() const { return A.data(); }

    std::vector<std::string> log;

  protected:
    void fillIdentity(Matrix& M, double d) {
        for (std::size_t i = 1; i <= M.rows(); ++i) {
            for (std::size_t j = 1; j <= M.cols(); ++j) {
                M(i, j) = i == j ? d : 0.0;
            }
        }
    }
    void setupA() override {
        note("setupA", [&] { fillIdentity(A, 1.0); });
    }
    void setupW() override {
        note("setupW", [&] { fillIdentity(W, 1.0); });
    }
    void setupQ() override {
        note("setupQ", [&] { fillIdentity(Q, 0.1); });
    }
    void setupH() override {
        note("setupH", [&] { fillIdentity(H, 1.0); });
    }
    void setupV() override {
        note("setupV", [&] { fillIdentity(V, 1.0); });
    }
    void setupR() override {
        note("setupR", [&] { fillIdentity(R, 0.5); });
    }
    void beforeProcess() override { log.emplace_back("beforeProcess"); }
    void refreshA() override { noteUnchanged("refreshA"); }
    void refreshW() override { noteUnchanged("refreshW"); }
    void refreshQ() override { noteUnchanged("refreshQ"); }
    void beforeMeasure() override { log.emplace_back("beforeMeasure"); }
    void refreshH() override { noteUnchanged("refreshH"); }
    void refreshV() override { noteUnchanged("refreshV"); }
    void refreshR() override { noteUnchanged("refreshR"); }
    void adjustInnovation() override { log.emplace_back("adjustInnovation"); }
    void setupB() override { log.emplace_back("setupB"); }
    void refreshB() override { log.emplace_back("refreshB"); }

  private:
    template <class Fill>
    void note(const char* name, Fill fill) {
        EXPECT_TRUE(changed) << name << " must be entered with changed = true";
        log.emplace_back(name);
        fill();
    }
    void noteUnchanged(const char* name) {
        EXPECT_TRUE(changed) << name << " must be entered with changed = true";
        log.emplace_back(name);
        changed = false;
    }
};

using Log = std::vector<std::string>;

TEST(KalmanHooks, CalledInOrderAndSetupsOnlyAfterResize) {
    RecordingModel f(2, 2);
    f.start(2);
    f.timeUpdate({});
    EXPECT_EQ(f.log, (Log{"setupB", "setupA", "setupW", "setupQ", "setupH", "setupV", "setupR",
                          "beforeProcess", "refreshA", "refreshW", "refreshQ", "refreshB"}));
    f.log.clear();
    f.measureUpdate({0.0, 0.0});
    EXPECT_EQ(f.log,
              (Log{"beforeMeasure", "refreshH", "refreshV", "refreshR", "adjustInnovation"}));
    f.log.clear();
    f.timeUpdate({});
    EXPECT_EQ(f.log, (Log{"beforeProcess", "refreshA", "refreshW", "refreshQ", "refreshB"}));

    // Setting the same sizes again changes nothing.
    f.resize(2, 2);
    f.log.clear();
    f.measureUpdate({0.0, 0.0});
    EXPECT_EQ(f.log,
              (Log{"beforeMeasure", "refreshH", "refreshV", "refreshR", "adjustInnovation"}));

    // Only the measurement size changes: only the measurement matrices are set up again.
    f.resize(2, 1);
    f.log.clear();
    f.measureUpdate({0.0});
    EXPECT_EQ(f.log, (Log{"setupH", "setupV", "setupR", "beforeMeasure", "refreshH", "refreshV",
                          "refreshR", "adjustInnovation"}));
}

TEST(KalmanHooks, StorageIsKeptWhileSizesStay) {
    RecordingModel f(3, 2);
    f.start(3);
    f.timeUpdate({});
    const double* a = f.storageOfA();
    for (int i = 0; i < 20; ++i) {
        f.timeUpdate({});
        f.measureUpdate({1.0, 2.0});
        f.resize(3, 2);
    }
    EXPECT_EQ(f.storageOfA(), a);
    EXPECT_EQ(f.log.size(), 12U + 20U * 10U) << "no setup hook ran again";
}

TEST(KalmanEdges, MeasureUpdateWithNoMeasurementsOnlyAppliesSizes) {
    RecordingModel f(2, 0);
    f.start(2);
    f.measureUpdate({});
    EXPECT_EQ(f.log, (Log{"setupB", "setupA", "setupW", "setupQ"}));
    EXPECT_EQ(f.getState()(1), 1.0);
    EXPECT_EQ(f.getState()(2), 1.0);
    // The covariance was factorised all the same.
    EXPECT_NEAR(f.calculateP()(2, 2), 1.0, 1e-15);
}

TEST(KalmanEdges, MeasurementStorageFollowsWhenMeasurementsAppearLater) {
    // Sizes set while m is 0 still reach the measurement storage once m becomes non-zero.
    RecordingModel f(2, 0);
    f.start(2);
    f.timeUpdate({});
    f.measureUpdate({});
    f.resize(2, 2);
    f.log.clear();
    f.measureUpdate({3.0, 3.0});
    EXPECT_EQ(f.log, (Log{"setupH", "setupV", "setupR", "beforeMeasure", "refreshH", "refreshV",
                          "refreshR", "adjustInnovation"}));
    EXPECT_GT(f.getState()(1), 1.0);
    EXPECT_LT(f.getState()(1), 3.0);
}

TEST(KalmanEdges, NoiseSizeSetWhileThereAreNoMeasurementsIsNotLost) {
    RecordingModel f(2, 0);
    f.start(2);
    f.measureUpdate({});
    f.resize(2, 0, 2, 3);  // nv changes while m is still 0
    f.measureUpdate({});
    f.resize(2, 2, 2, 3);  // now m changes, nv does not
    f.log.clear();
    f.measureUpdate({3.0, 3.0});
    EXPECT_EQ(f.log, (Log{"setupH", "setupV", "setupR", "beforeMeasure", "refreshH", "refreshV",
                          "refreshR", "adjustInnovation"}));
    EXPECT_GT(f.getState()(1), 1.0);
    EXPECT_LT(f.getState()(1), 3.0);
}

TEST(KalmanEdges, ProcessNoiseResizeKeepsTheCovariance) {
    RecordingModel f(3, 0);
    f.start(3);
    for (int i = 0; i < 3; ++i) {
        f.timeUpdate({});
    }
    const auto before = f.calculateP();
    f.resize(3, 0, 1, 0);  // a smaller process-noise vector: the U-D factors move over
    f.log.clear();
    f.measureUpdate({});
    EXPECT_EQ(f.log, (Log{"setupW", "setupQ"}));
    const auto after = f.calculateP();
    for (std::size_t i = 1; i <= 3; ++i) {
        for (std::size_t j = 1; j <= 3; ++j) {
            EXPECT_EQ(after(i, j), before(i, j));
        }
    }
    f.timeUpdate({});  // and the next prediction adds the one remaining noise component
    EXPECT_NEAR(f.calculateP()(1, 1), before(1, 1) + 0.1, 1e-12);
    EXPECT_NEAR(f.calculateP()(2, 2), before(2, 2), 1e-12);
}

TEST(KalmanEdges, InitStateWithoutUpdateIsReadBack) {
    Kalman2D f;
    f.startAt(10, 20);
    const auto& x = f.getState();
    ASSERT_EQ(x.size(), 4U);
    EXPECT_EQ(x(1), 10.0);
    EXPECT_EQ(x(2), 20.0);
    EXPECT_EQ(x(3), 0.0);
    EXPECT_EQ(x(4), 0.0);
    const auto P = f.calculateP();
    for (std::size_t i = 1; i <= 4; ++i) {
        for (std::size_t j = 1; j <= 4; ++j) {
            EXPECT_EQ(P(i, j), i == j ? 1.0 : 0.0);
        }
    }
}

TEST(KalmanEdges, InitStateExchangesRatherThanCopies) {
    ScalarModel<1> f(1.0, 0.1, 1.0);
    Vector x0{4.0};
    Matrix P0(1, 1);
    P0(1, 1) = 2.0;
    const double* xStorage = x0.data();
    f.initState(x0, P0);
    EXPECT_EQ(f.getState().data(), xStorage);
    EXPECT_EQ(x0.size(), 0U);  // the filter's empty state came back
}

TEST(KalmanEdges, RestartRefactorisesTheNewCovariance) {
    ScalarModel<1> f(1.0, 0.1, 1.0);
    f.start(0.0, 1.0);
    for (int i = 0; i < 5; ++i) {
        f.timeUpdate({});
        f.measureUpdate({3.0});
    }
    f.start(10.0, 3.0);
    f.measureUpdate({14.0});
    EXPECT_NEAR(f.getState()(1), 10.0 + 0.75 * 4.0, 1e-12);
    EXPECT_NEAR(f.calculateP()(1, 1), 0.75, 1e-12);
}

}  // namespace
