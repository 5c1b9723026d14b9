#pragma once

// How alike two vectors of numbers are, such as two embeddings.

#include <vector>

namespace aiclient {

/// Nothing is checked: an empty or all-zero vector gives NaN.
struct Vector {
    /// The dot product over the positions both have, divided by the product of each vector's whole length.
    static double cosineSimilarity(const std::vector<double>& a, const std::vector<double>& b);
    /// 1 − `cosineSimilarity`.
    static double cosineDistance(const std::vector<double>& a, const std::vector<double>& b);
    /// The products of the elements at equal positions, as many as the shorter vector has.
    static std::vector<double> elementwiseProduct(const std::vector<double>& a, const std::vector<double>& b);
};

} // namespace aiclient
