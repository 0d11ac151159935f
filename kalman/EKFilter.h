#pragma once
// Kalman::EKFilter: the framework of a discrete (extended) Kalman filter.
//
// The state covariance is kept in U-D factorised form, P = U D Uᵀ with U unit upper triangular
// and D diagonal, and P itself is never formed during the update cycle: the time update is
// Thornton's modified weighted Gram-Schmidt (MWGS) algorithm, the measurement update Bierman's
// sequential scalar update after the measurement noise has been decorrelated.
//
// A model derives from this class (usually through Kalman::KFilter), calls setSizes() in its
// constructor and supplies its matrices through the virtual hooks below. Then:
//   initState(x0, P0)   whenever a track starts (both arguments are swapped, not copied);
//   timeUpdate(u)       one prediction;
//   measureUpdate(z)    one correction;
//   getState()          the estimate.
//
// Hook protocol: before a setupX/refreshX hook runs, the filter sets `changed` to true. The
// default hooks set it to false ("matrix unchanged"). A hook that fills its matrix leaves it
// alone, and the filter then treats that matrix as changed: products and factorisations that
// depend on it are recomputed. Nothing else is recomputed, and storage is reallocated only when a
// dimension given to setSizes() differs from the one before.
//
// Template arguments: T is the element type, BEG the index of the first element of vectors and
// matrices (1 in this program). OQ (diagonal Q), OVR (identity V, diagonal R) and DBG (index
// checks) name optimisations and checks that this program never turns on; they must be false.
//
// No index, dimension or numerical checks are made: a model must fill its matrices to the sizes
// it set and keep Q and R symmetric with positive variances. Only storage allocation can fail,
// with the usual exceptions.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kalman/KMatrix.h"
#include "kalman/UDFactor.h"

namespace Kalman {

template <typename T, unsigned BEG, bool OQ = false, bool OVR = false, bool DBG = false>
class EKFilter {
    static_assert(std::is_floating_point_v<T>, "Kalman filters need a floating-point type");
    static_assert(!OQ && !OVR && !DBG,
                  "only the general form (OQ, OVR and DBG off) is implemented");

  public:
    using Vector = KVector<T, BEG>;
    using Matrix = KMatrix<T, BEG>;
    using Size = std::uint32_t;

    EKFilter() = default;
    EKFilter(const EKFilter&) = default;
    EKFilter& operator=(const EKFilter&) = default;
    virtual ~EKFilter() = default;

    // Sizes of the state, input, process noise, measurement and measurement noise vectors. Only
    // records them; storage follows at the next update.
    void setSizes(Size stateSize, Size inputSize, Size processNoiseSize, Size measureSize,
                  Size measureNoiseSize) {
        sizeChange_.n |= stateSize != n;
        sizeChange_.nu |= inputSize != nu;
        sizeChange_.nw |= processNoiseSize != nw;
        sizeChange_.m |= measureSize != m;
        sizeChange_.nv |= measureNoiseSize != nv;
        n = stateSize;
        nu = inputSize;
        nw = processNoiseSize;
        m = measureSize;
        nv = measureNoiseSize;
    }

    // Starts a track at x0 (length n) with covariance P0 (n × n). The contents are exchanged with
    // the filter's, not copied; the U-D factors are computed at the start of the next update.
    void initState(Vector& x0, Matrix& P0) {
        x.swap(x0);
        P.swap(P0);
        pGiven_ = true;
    }

    // One prediction with the input u (its first nu elements are used).
    void timeUpdate(const Vector& input) {
        applySizes();
        for (Size i = 0; i < nu; ++i) {
            u.data()[i] = input.data()[i];
        }

        beforeProcess();
        modified_.A |= callHook(&EKFilter::refreshA);
        modified_.W |= callHook(&EKFilter::refreshW);
        modified_.Q |= callHook(&EKFilter::refreshQ);

        predictState();

        if (modified_.Q) {
            copyBlock(Q, Uq_, nw, nw);
            factorUD(Uq_, nw);
        }
        if (modified_.W || modified_.Q) {
            multiplyWUq();
        }
        thorntonUpdate();
        modified_.A = modified_.W = modified_.Q = false;
    }

    // One correction with the measurement z (length m). With m = 0 only pending size changes are
    // applied.
    void measureUpdate(const Vector& z) {
        applySizes();
        if (m == 0) {
            return;
        }

        beforeMeasure();
        modified_.H |= callHook(&EKFilter::refreshH);
        modified_.V |= callHook(&EKFilter::refreshV);
        modified_.R |= callHook(&EKFilter::refreshR);

        predictMeasurement();
        for (Size i = 0; i < m; ++i) {
            dz.data()[i] = z.data()[i] - zPred.data()[i];
        }
        adjustInnovation();

        if (modified_.V || modified_.R) {
            formVRVt();
            factorUD(Rt_, m);
            invertUnitUpper(Rt_, m);
        }
        if (modified_.H || modified_.V || modified_.R) {
            decorrelateH();
        }
        decorrelate(dz.data());

        T* dx = dx_.data();
        for (Size i = 0; i < n; ++i) {
            dx[i] = T{};
        }
        for (Size k = 0; k < m; ++k) {
            biermanUpdate(Ht_.row0(k), dz.data()[k], Rt_.row0(k)[k]);
        }
        T* state = x.data();
        for (Size i = 0; i < n; ++i) {
            state[i] += dx[i];
        }
        modified_.H = modified_.V = modified_.R = false;
    }

    const Vector& getState() const { return x; }

    // The covariance P = U D Uᵀ, formed on request (the filter itself never needs it). Before the
    // first update after initState it is the P0 that was given.
    Matrix calculateP() const {
        if (pGiven_) {
            return P;
        }
        Matrix out(n, n);
        for (Size i = 0; i < n; ++i) {
            for (Size j = i; j < n; ++j) {
                // Σ_k U[i][k] D[k] U[j][k] over k ≥ j, with the unit diagonal.
                T s{};
                for (Size k = j; k < n; ++k) {
                    const T uik = k == i ? T{1} : U.row0(i)[k];
                    const T ujk = k == j ? T{1} : U.row0(j)[k];
                    s += uik * U.row0(k)[k] * ujk;
                }
                out.row0(i)[j] = s;
                out.row0(j)[i] = s;
            }
        }
        return out;
    }

  protected:
    // Hooks, in this order. setupX runs when X was (re)sized, refreshX at every update.
    virtual void setupA() { changed = false; }
    virtual void setupW() { changed = false; }
    virtual void setupQ() { changed = false; }
    virtual void setupH() { changed = false; }
    virtual void setupV() { changed = false; }
    virtual void setupR() { changed = false; }
    virtual void beforeProcess() {}
    virtual void refreshA() { changed = false; }
    virtual void refreshW() { changed = false; }
    virtual void refreshQ() { changed = false; }
    virtual void predictState() = 0;  // x ← f(x, u)
    virtual void beforeMeasure() {}
    virtual void refreshH() { changed = false; }
    virtual void refreshV() { changed = false; }
    virtual void refreshR() { changed = false; }
    virtual void predictMeasurement() = 0;  // zPred ← h(x)
    virtual void adjustInnovation() {}

    // Brings storage in line with the sizes: runs first in every update.
    virtual void applySizes() {
        const bool dn = sizeChange_.n;
        const bool dnw = sizeChange_.nw;

        if (dn) {
            A.resize(n, n);
            modified_.A |= callHook(&EKFilter::setupA);
        }
        if (sizeChange_.nu) {
            u.resize(nu);
        }
        if (dn || dnw) {
            weight_.resize(n + nw);
            scratch_.resize(n + nw);
            dx_.resize(n);
            WUq_.resize(n, nw);
            W.resize(n, nw);
            modified_.W |= callHook(&EKFilter::setupW);
        }
        if (pGiven_) {
            U.resize(n, n + nw);
            copyBlock(P, U, n, n);
            factorUD(U, n);
            Matrix().swap(P);  // P is held only until it has been factorised
        } else if (dn || dnw) {
            Matrix fresh(n, n + nw);
            const Size keep = static_cast<Size>(U.rows()) < n ? static_cast<Size>(U.rows()) : n;
            copyBlock(U, fresh, keep, keep);
            U.swap(fresh);
        }
        if (x.size() != n) {
            x.resize(n);  // a state is needed even before the first initState
        }
        if (dnw) {
            Q.resize(nw, nw);
            Uq_.resize(nw, nw);
            modified_.Q |= callHook(&EKFilter::setupQ);
        }

        // Measurement storage waits while m is 0, so changes made meanwhile are kept pending.
        measureResize_.H |= dn || sizeChange_.m;
        measureResize_.V |= sizeChange_.m || sizeChange_.nv;
        measureResize_.R |= sizeChange_.nv;
        measureResize_.Rt |= sizeChange_.m;
        if (m != 0) {
            if (measureResize_.H) {
                H.resize(m, n);
                Ht_.resize(m, n);
                modified_.H |= callHook(&EKFilter::setupH);
            }
            if (measureResize_.V) {
                V.resize(m, nv);
                modified_.V |= callHook(&EKFilter::setupV);
            }
            if (measureResize_.R) {
                R.resize(nv, nv);
                vrRow_.resize(nv);
                modified_.R |= callHook(&EKFilter::setupR);
            }
            if (measureResize_.Rt) {
                Rt_.resize(m, m);
                zPred.resize(m);
                dz.resize(m);
            }
            measureResize_ = {};
        }

        sizeChange_ = {};
        pGiven_ = false;
    }

    // Size-change flags, for derived classes that size storage of their own in applySizes().
    bool stateSizeChanged() const { return sizeChange_.n; }
    bool inputSizeChanged() const { return sizeChange_.nu; }

    // Set to true before each setup/refresh hook; a default hook clears it.
    bool changed = false;

    Size n = 0;   // state
    Size nu = 0;  // input
    Size nw = 0;  // process noise
    Size m = 0;   // measurement
    Size nv = 0;  // measurement noise

    Vector x;      // state estimate, n
    Vector u;      // input of the current time update, nu
    Matrix A;      // state transition, n × n
    Matrix W;      // process-noise gain, n × nw
    Matrix Q;      // process-noise covariance, nw × nw
    Matrix H;      // measurement matrix, m × n
    Matrix V;      // measurement-noise gain, m × nv
    Matrix R;      // measurement-noise covariance, nv × nv
    Vector zPred;  // predicted measurement z', m
    Vector dz;     // innovation z − z', m

  private:
    using Hook = void (EKFilter::*)();

    bool callHook(Hook hook) {
        changed = true;
        (this->*hook)();
        return changed;
    }

    static void copyBlock(const Matrix& from, Matrix& to, Size rows, Size cols) {
        for (Size i = 0; i < rows; ++i) {
            const T* src = from.row0(i);
            T* dst = to.row0(i);
            for (Size j = 0; j < cols; ++j) {
                dst[j] = src[j];
            }
        }
    }

    // WUq_ ← W · U_Q, with the unit diagonal of U_Q implicit.
    void multiplyWUq() {
        for (Size i = 0; i < n; ++i) {
            const T* w = W.row0(i);
            T* out = WUq_.row0(i);
            for (Size j = 0; j < nw; ++j) {
                T s = w[j];
                for (Size k = 0; k < j; ++k) {
                    s += w[k] * Uq_.row0(k)[j];
                }
                out[j] = s;
            }
        }
    }

    // Thornton's MWGS: U, D ← U-D factors of A U D Uᵀ Aᵀ + W Q Wᵀ. The rows of
    // Y = [A·U | W·U_Q] are built in U itself (its last nw columns are the work space). Once row j
    // is orthogonalised it is no longer needed, so the new U[i][j] (i < j) are parked in row j's
    // strict lower part and moved back above the diagonal at the end.
    void thorntonUpdate() {
        const Size cols = n + nw;
        T* w = weight_.data();
        T* s = scratch_.data();
        for (Size k = 0; k < n; ++k) {
            w[k] = U.row0(k)[k];
        }
        for (Size k = 0; k < nw; ++k) {
            w[n + k] = Uq_.row0(k)[k];
        }

        // Columns 0 … n−1: A·U, one column at a time (column j of A·U needs column j of U only).
        for (Size j = 0; j < n; ++j) {
            for (Size k = 0; k < j; ++k) {
                s[k] = U.row0(k)[j];
            }
            for (Size i = 0; i < n; ++i) {
                const T* a = A.row0(i);
                T sum = a[j];
                for (Size k = 0; k < j; ++k) {
                    sum += a[k] * s[k];
                }
                U.row0(i)[j] = sum;
            }
        }
        // Columns n … n+nw−1: W·U_Q.
        for (Size i = 0; i < n; ++i) {
            const T* wu = WUq_.row0(i);
            T* y = U.row0(i) + n;
            for (Size k = 0; k < nw; ++k) {
                y[k] = wu[k];
            }
        }

        for (Size j = n; j-- > 0;) {
            T* yj = U.row0(j);
            T sigma{};
            for (Size k = 0; k < cols; ++k) {
                sigma += w[k] * yj[k] * yj[k];
            }
            for (Size i = 0; i < j; ++i) {
                if (sigma == T{}) {
                    s[i] = T{};
                    continue;
                }
                T* yi = U.row0(i);
                T t{};
                for (Size k = 0; k < cols; ++k) {
                    t += w[k] * yi[k] * yj[k];
                }
                const T f = t / sigma;
                s[i] = f;
                for (Size k = 0; k < cols; ++k) {
                    yi[k] -= f * yj[k];
                }
            }
            for (Size i = 0; i < j; ++i) {
                yj[i] = s[i];
            }
            yj[j] = sigma;
        }
        for (Size j = 1; j < n; ++j) {
            const T* parked = U.row0(j);
            for (Size i = 0; i < j; ++i) {
                U.row0(i)[j] = parked[i];
            }
        }
    }

    // Rt_ (upper triangle) ← V R Vᵀ.
    void formVRVt() {
        T* t = vrRow_.data();
        for (Size i = 0; i < m; ++i) {
            const T* vi = V.row0(i);
            for (Size b = 0; b < nv; ++b) {
                T sum{};
                for (Size a = 0; a < nv; ++a) {
                    sum += vi[a] * R.row0(a)[b];
                }
                t[b] = sum;
            }
            for (Size j = i; j < m; ++j) {
                const T* vj = V.row0(j);
                T sum{};
                for (Size b = 0; b < nv; ++b) {
                    sum += t[b] * vj[b];
                }
                Rt_.row0(i)[j] = sum;
            }
        }
    }

    // Ht_ ← U_R⁻¹ H (the inverse sits transposed in Rt_'s strict lower triangle).
    void decorrelateH() {
        for (Size i = 0; i < m; ++i) {
            T* out = Ht_.row0(i);
            const T* h = H.row0(i);
            for (Size c = 0; c < n; ++c) {
                out[c] = h[c];
            }
            for (Size j = i + 1; j < m; ++j) {
                const T f = Rt_.row0(j)[i];
                const T* hj = H.row0(j);
                for (Size c = 0; c < n; ++c) {
                    out[c] += f * hj[c];
                }
            }
        }
    }

    // v ← U_R⁻¹ v in place (row i reads only the entries after it).
    void decorrelate(T* v) const {
        for (Size i = 0; i < m; ++i) {
            for (Size j = i + 1; j < m; ++j) {
                v[i] += Rt_.row0(j)[i] * v[j];
            }
        }
    }

    // Bierman's scalar update with the measurement row h, innovation a and variance r. The
    // correction accumulates in dx_; U and D are updated in place.
    void biermanUpdate(const T* h, T a, T r) {
        T* f = scratch_.data();
        T* k = weight_.data();  // holds v, and turns into the gain K entry by entry
        const T* dx = dx_.data();
        for (Size i = 0; i < n; ++i) {
            a -= h[i] * dx[i];
        }

        for (Size i = 0; i < n; ++i) {
            T fi = h[i];
            for (Size j = 0; j < i; ++j) {
                fi += U.row0(j)[i] * h[j];
            }
            f[i] = fi;
            k[i] = U.row0(i)[i] * fi;
        }
        T alpha = r + k[0] * f[0];
        U.row0(0)[0] *= r / alpha;
        for (Size i = 1; i < n; ++i) {
            const T vi = k[i];
            const T next = alpha + vi * f[i];
            U.row0(i)[i] *= alpha / next;
            const T lambda = -f[i] / alpha;
            for (Size j = 0; j < i; ++j) {
                T& uji = U.row0(j)[i];
                const T old = uji;
                uji = old + lambda * k[j];
                k[j] += vi * old;
            }
            alpha = next;
        }
        const T scale = a / alpha;
        T* dxOut = dx_.data();
        for (Size i = 0; i < n; ++i) {
            dxOut[i] += k[i] * scale;
        }
    }

    struct SizeChange {
        bool n = false, nu = false, nw = false, m = false, nv = false;
    };
    struct Modified {
        bool A = false, W = false, Q = false, H = false, V = false, R = false;
    };
    struct MeasureResize {
        bool H = false, V = false, R = false, Rt = false;
    };

    SizeChange sizeChange_;
    MeasureResize measureResize_;
    Modified modified_;
    bool pGiven_ = false;

    Matrix P;     // initial covariance, held from initState until the next update
    Matrix U;     // U-D factors in the first n columns, MWGS work space in the last nw
    Matrix Uq_;   // U-D factors of Q
    Matrix WUq_;  // W · U_Q
    Matrix Rt_;   // U-D factors of V R Vᵀ, with U_R⁻¹ transposed in its strict lower triangle
    Matrix Ht_;   // U_R⁻¹ H
    Vector dx_;   // correction of the measurement update, n
    Vector weight_, scratch_;  // n + nw
    Vector vrRow_;             // one row of V R, nv
};

}  // namespace Kalman
