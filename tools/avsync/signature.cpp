// Normalised distance between picture signatures.
#include "tools/avsync/signature.h"

#include <cmath>

namespace {

// Mean and 1 / spread of a signature; a flat picture gets spread 1 so that it still compares.
void moments(const Signature& s, double* mean, double* inv) {
    double sum = 0, sq = 0;
    for (std::uint8_t v : s.luma) sum += v, sq += double(v) * v;
    *mean = sum / sig_size;
    const double var = sq / sig_size - *mean * *mean;
    *inv = var > 1e-6 ? 1 / std::sqrt(var) : 1;
}

}  // namespace

double sig_distance(const Signature& a, const Signature& b) {
    double ma, ia, mb, ib;
    moments(a, &ma, &ia);
    moments(b, &mb, &ib);
    double d = 0;
    for (int i = 0; i < sig_size; ++i) {
        const double e = (a.luma[i] - ma) * ia - (b.luma[i] - mb) * ib;
        d += e * e;
    }
    return d / sig_size;
}
