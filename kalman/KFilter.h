#pragma once
// Kalman::KFilter: the linear Kalman filter, x ← A x + B u and z' = H x.
//
// A linear model derives from this class, calls setSizes() in its constructor and fills A, W, Q,
// H, V, R (and B when it has inputs) in the setup/refresh hooks of Kalman::EKFilter.

#include "kalman/EKFilter.h"

namespace Kalman {

template <typename T, unsigned BEG, bool OQ = false, bool OVR = false, bool DBG = false>
class KFilter : public EKFilter<T, BEG, OQ, OVR, DBG> {
    using Base = EKFilter<T, BEG, OQ, OVR, DBG>;

  public:
    using typename Base::Matrix;
    using typename Base::Size;
    using typename Base::Vector;

    KFilter() = default;
    KFilter(const KFilter&) = default;
    KFilter& operator=(const KFilter&) = default;
    ~KFilter() override = default;

  protected:
    // x ← A x + B u, formed in a second buffer that is then exchanged with x.
    void predictState() override {
        refreshB();
        const Size n = this->n;
        const Size nu = this->nu;
        const T* x = this->x.data();
        const T* u = this->u.data();
        T* next = xNext_.data();
        for (Size i = 0; i < n; ++i) {
            const T* a = this->A.row0(i);
            T s{};
            for (Size j = 0; j < n; ++j) {
                s += a[j] * x[j];
            }
            const T* b = B.row0(i);
            for (Size k = 0; k < nu; ++k) {
                s += b[k] * u[k];
            }
            next[i] = s;
        }
        this->x.swap(xNext_);
    }

    // zPred ← H x.
    void predictMeasurement() override {
        const T* x = this->x.data();
        T* z = this->zPred.data();
        for (Size i = 0; i < this->m; ++i) {
            const T* h = this->H.row0(i);
            T s{};
            for (Size j = 0; j < this->n; ++j) {
                s += h[j] * x[j];
            }
            z[i] = s;
        }
    }

    void applySizes() override {
        if (this->stateSizeChanged() || this->inputSizeChanged()) {
            B.resize(this->n, this->nu);
            setupB();
        }
        xNext_.resize(this->n);  // no-op unless n changed
        Base::applySizes();
    }

    // setupB runs after B was (re)sized, refreshB at the start of every prediction; both do
    // nothing by default. They are hooks of their own, not overrides of the base's setupA or
    // refreshA, whatever their names suggest to a checker.
    virtual void setupB() {}    // NOLINT(bugprone-virtual-near-miss)
    virtual void refreshB() {}  // NOLINT(bugprone-virtual-near-miss)

    Matrix B;  // input matrix, n × nu

  private:
    Vector xNext_;
};

}  // namespace Kalman
