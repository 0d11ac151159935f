#pragma once
// Vectors and matrices of the Kalman filter templates.
//
// Elements are addressed with indices that start at BEG (1 in this program): v(1) is the first
// element of a vector, m(1, 1) the top-left element of a matrix. A matrix is one contiguous block
// in row order; row0(i) gives the start of a row by its 0-based number for inner loops.
// Storage changes only in resize() and only when a dimension differs from the current one; the
// contents after such a resize are zero.

#include <cstddef>
#include <initializer_list>
#include <utility>
#include <vector>

namespace Kalman {

template <typename T, unsigned BEG>
class KVector {
  public:
    KVector() = default;
    explicit KVector(std::size_t size, T value = T{}) : data_(size, value) {}
    KVector(std::initializer_list<T> values) : data_(values) {}

    std::size_t size() const { return data_.size(); }

    // Reallocates (and zeroes) only when the size differs.
    void resize(std::size_t size) {
        if (size != data_.size()) {
            data_.assign(size, T{});
        }
    }

    T& operator()(std::size_t i) { return data_[i - BEG]; }
    const T& operator()(std::size_t i) const { return data_[i - BEG]; }
    T& operator[](std::size_t i) { return data_[i - BEG]; }
    const T& operator[](std::size_t i) const { return data_[i - BEG]; }

    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }

    void swap(KVector& other) noexcept { data_.swap(other.data_); }

  private:
    std::vector<T> data_;
};

template <typename T, unsigned BEG>
class KMatrix {
  public:
    KMatrix() = default;
    KMatrix(std::size_t rows, std::size_t cols) : rows_(rows), cols_(cols), data_(rows * cols) {}
    // rows × cols values in row order.
    KMatrix(std::size_t rows, std::size_t cols, const T* values)
        : rows_(rows), cols_(cols), data_(values, values + rows * cols) {}

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }

    // Reallocates (and zeroes) only when a dimension differs.
    void resize(std::size_t rows, std::size_t cols) {
        if (rows == rows_ && cols == cols_) {
            return;
        }
        rows_ = rows;
        cols_ = cols;
        data_.assign(rows * cols, T{});
    }

    T& operator()(std::size_t i, std::size_t j) { return data_[(i - BEG) * cols_ + (j - BEG)]; }
    const T& operator()(std::size_t i, std::size_t j) const {
        return data_[(i - BEG) * cols_ + (j - BEG)];
    }

    // Start of row i, counted from 0; the row's elements follow contiguously.
    T* row0(std::size_t i) { return data_.data() + i * cols_; }
    const T* row0(std::size_t i) const { return data_.data() + i * cols_; }

    T* data() { return data_.data(); }
    const T* data() const { return data_.data(); }

    void swap(KMatrix& other) noexcept {
        std::swap(rows_, other.rows_);
        std::swap(cols_, other.cols_);
        data_.swap(other.data_);
    }

  private:
    std::size_t rows_ = 0;
    std::size_t cols_ = 0;
    std::vector<T> data_;
};

}  // namespace Kalman
