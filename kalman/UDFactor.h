#pragma once
// In-place U-D factorisation and unit-triangle inversion used by the Kalman filter.
//
// Both work on the leading dim × dim block of a matrix that may have more columns.

#include <cstddef>

#include "kalman/KMatrix.h"

namespace Kalman {

// Factorises the symmetric positive (semi-)definite block M = U D Uᵀ in place, upper form: only
// the upper triangle of M is read; afterwards the diagonal holds D and the strict upper triangle
// holds the unit upper triangular U (its 1s are not stored). The strict lower triangle is left
// alone. A zero pivot (a variance of exactly 0) gives a zero column of U instead of a division
// by zero.
template <typename T, unsigned BEG>
void factorUD(KMatrix<T, BEG>& M, std::size_t dim) {
    for (std::size_t j = dim; j-- > 1;) {
        const T d = M.row0(j)[j];
        const T inv = d != T{} ? T{1} / d : T{};
        for (std::size_t k = 0; k < j; ++k) {
            T* rowK = M.row0(k);
            const T beta = rowK[j];
            rowK[j] = beta * inv;
            for (std::size_t i = 0; i <= k; ++i) {
                T* rowI = M.row0(i);
                rowI[k] -= beta * rowI[j];
            }
        }
    }
}

// Given a U-D factorised block (as left by factorUD), computes the inverse of the unit upper
// triangle U and stores it transposed in the strict lower triangle: (U⁻¹)[i][j], i < j, is found
// at row j, column i. U and D stay where they are.
template <typename T, unsigned BEG>
void invertUnitUpper(KMatrix<T, BEG>& M, std::size_t dim) {
    if (dim < 2) {
        return;
    }
    for (std::size_t i = dim - 1; i-- > 0;) {
        const T* rowI = M.row0(i);
        for (std::size_t j = i + 1; j < dim; ++j) {
            T* rowJ = M.row0(j);  // holds (U⁻¹)[k][j] at column k
            T s = rowI[j];
            for (std::size_t k = i + 1; k < j; ++k) {
                s += rowI[k] * rowJ[k];
            }
            rowJ[i] = -s;
        }
    }
}

}  // namespace Kalman
