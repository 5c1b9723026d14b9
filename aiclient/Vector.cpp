#include "aiclient/Vector.h"

#include <algorithm>
#include <cmath>

namespace aiclient {

namespace {

/// Summed in index order from 0.0, as the products are listed.
double sumOfProducts(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0.0;
    const std::size_t count = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < count; ++i)
        sum += a[i] * b[i];
    return sum;
}

} // namespace

std::vector<double> Vector::elementwiseProduct(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> products(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < products.size(); ++i)
        products[i] = a[i] * b[i];
    return products;
}

double Vector::cosineSimilarity(const std::vector<double>& a, const std::vector<double>& b)
{
    return sumOfProducts(a, b) / (std::sqrt(sumOfProducts(a, a)) * std::sqrt(sumOfProducts(b, b)));
}

double Vector::cosineDistance(const std::vector<double>& a, const std::vector<double>& b)
{
    return 1.0 - cosineSimilarity(a, b);
}

} // namespace aiclient
