#include "mesh/normals.h"

#include "core/workers.h"
#include "mesh/object.h"
#include "mesh/positiontable.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// The corner's angle in its triangle: atan2(|a x b|, a . b), rounded as in vector's operations.
double cornerAngle(const polygon& p, int k)
{
    const vector& o = p.position[k];
    const vector& e = p.position[(k + 1) % 3];
    const vector& f = p.position[(k + 2) % 3];
    const double ax = e.x - o.x, ay = e.y - o.y, az = e.z - o.z;
    const double bx = f.x - o.x, by = f.y - o.y, bz = f.z - o.z;
    const double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), ax * bx + ay * by + az * bz);
}

// x, y and z alone: the per-position arrays stay dense.
struct triple {
    double x, y, z;
};

// Rounds as dot(vector, vector) does.
double dot3(const triple& a, const triple& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// As normalise(vector&) rounds.
triple normalised(const triple& t)
{
    vector v(t.x, t.y, t.z);
    normalise(v);
    return {v.x, v.y, v.z};
}

double distance(const triple& a, const triple& b)
{
    const triple d{a.x - b.x, a.y - b.y, a.z - b.z};
    return std::sqrt(dot3(d, d));
}

// Below this many corners at a position, testing every pair is cheapest.
constexpr size_t pairwiseBelow = 16;
// Unit normals closer than this to a cluster's first normal join it.
constexpr double clusterRadius = 0.05;
// Face normals whose squared length is this close to 1 count as unit normals.
constexpr double unitSlack = 1e-9;
// Labels of the corners at one position: clusters of unit normals, then these two.
constexpr int zeroLabel = 62;  // (0, 0, 0): its dot product with any finite normal is 0
constexpr int neverLabel = 63; // a NaN: no dot product with it passes

enum class verdict { all, none, either };

// Whether every unit normal within ra of a and every one within rb of b pass each other's test
// (dot product above t), none do, or it depends on the pair. For unit normals,
// x . y = (|x|^2 + |y|^2 - |x - y|^2) / 2, so bounds on |x - y| bound the dot product; the
// margins are far wider than any rounding of the distances and of the dot products.
verdict judge(const triple& a, double ra, const triple& b, double rb, double t)
{
    const double d = distance(a, b);
    const double far = d + ra + rb + 1e-9;
    const double near = std::max(0.0, d - ra - rb - 1e-9);
    if (1 - far * far / 2 - 1e-8 > t)
        return verdict::all;
    if (1 - near * near / 2 + 1e-8 < t)
        return verdict::none;
    return verdict::either;
}

// The face normals of the corners at one position, in file order, and what their labels say.
struct cornerLabels {
    const triple* normal = nullptr;
    size_t k = 0;
    std::vector<uint8_t> label;
    uint64_t passes[64]; // by label: the labels whose normals pass its test
};

// Labels the corners so that whether one passes another's test follows from their labels
// alone, which lets corners with the same labels passing share one sum. False when the
// normals defeat it (a normal of another length, a test too close to call, too many clusters).
bool labelCorners(cornerLabels& at, double t)
{
    const size_t k = at.k;
    at.label.assign(k, 0);
    triple centre{0, 0, 0};
    size_t units = 0;
    for (size_t j = 0; j < k; ++j) {
        const triple& n = at.normal[j];
        if (std::isnan(n.x) || std::isnan(n.y) || std::isnan(n.z)) {
            at.label[j] = neverLabel;
        } else if (n.x == 0 && n.y == 0 && n.z == 0) {
            at.label[j] = zeroLabel;
        } else if (std::fabs(dot3(n, n) - 1) <= unitSlack) {
            centre = {centre.x + n.x, centre.y + n.y, centre.z + n.z};
            ++units;
        } else {
            return false;
        }
    }

    // A flat or gently curved neighbourhood: one cluster about the mean of all.
    triple seed[zeroLabel];
    double radius[zeroLabel];
    int clusters = 0;
    if (units > 0) {
        const double share = 1.0 / static_cast<double>(units);
        seed[0] = {centre.x * share, centre.y * share, centre.z * share};
        radius[0] = 0;
        for (size_t j = 0; j < k; ++j)
            if (at.label[j] == 0)
                radius[0] = std::max(radius[0], distance(at.normal[j], seed[0]));
        clusters = 1;
        if (judge(seed[0], radius[0], seed[0], radius[0], t) != verdict::all) {
            // Creases: clusters about their first normals, each pair of them decided as a whole.
            clusters = 0;
            for (size_t j = 0; j < k; ++j) {
                if (at.label[j] != 0)
                    continue;
                int c = 0;
                double d = 0;
                while (c < clusters && !((d = distance(at.normal[j], seed[c])) <= clusterRadius))
                    ++c;
                if (c == clusters) {
                    if (clusters == zeroLabel)
                        return false;
                    seed[c] = at.normal[j];
                    radius[c] = d = 0;
                    ++clusters;
                }
                radius[c] = std::max(radius[c], d);
                at.label[j] = static_cast<uint8_t>(c);
            }
        }
    }

    const bool zeroPasses = 0.0 > t;
    const uint64_t zeroBit = uint64_t(1) << zeroLabel;
    uint64_t allClusters = 0;
    for (int c = 0; c < clusters; ++c) {
        allClusters |= uint64_t(1) << c;
        at.passes[c] = zeroPasses ? zeroBit : 0;
    }
    for (int a = 0; a < clusters; ++a)
        for (int b = 0; b <= a; ++b) {
            const verdict v = judge(seed[a], radius[a], seed[b], radius[b], t);
            if (v == verdict::either)
                return false;
            if (v == verdict::all) {
                at.passes[a] |= uint64_t(1) << b;
                at.passes[b] |= uint64_t(1) << a;
            }
        }
    at.passes[zeroLabel] = zeroPasses ? allClusters | zeroBit : 0;
    at.passes[neverLabel] = 0;
    return true;
}

// Gives the wanted corners at one position their normals; one per thread, for its scratch.
// Each corner's sum adds, in file order, the weighted normals of the corners at its position
// whose face normals pass its test. Corners that pass the same ones, told by a mask of
// members or of labels, share the sum and its normalising.
class positionSums {
public:
    positionSums(const triple* faceNormal, const double* angle, const std::vector<uint8_t>& marked, double threshold,
                 triple* result)
        : faceNormal(faceNormal), angle(angle), marked(marked), threshold(threshold), result(result)
    {
    }

    // The k corners at the position are here[0 .. k - 1].
    void sumAt(const uint32_t* here, size_t k)
    {
        normal.resize(k);
        weighted.resize(k);
        for (size_t j = 0; j < k; ++j) {
            const triple& f = faceNormal[here[j] / 3];
            const double a = angle[here[j]];
            normal[j] = f;
            weighted[j] = {f.x * a, f.y * a, f.z * a};
        }
        const bool few = k < pairwiseBelow;
        at.normal = normal.data();
        at.k = k;
        const bool labelled = !few && labelCorners(at, threshold);
        uint64_t rows[pairwiseBelow] = {};
        if (few) // a . b and b . a round alike: each pair is tested once
            for (size_t j = 0; j < k; ++j)
                for (size_t o = 0; o <= j; ++o)
                    if (dot3(normal[o], normal[j]) > threshold) {
                        rows[j] |= uint64_t(1) << o;
                        rows[o] |= uint64_t(1) << j;
                    }
        known.clear();
        for (size_t j = 0; j < k; ++j) {
            const uint32_t c = here[j];
            if (!(marked[c / 3] >> (c % 3) & 1))
                continue;
            if (!few && !labelled) {
                result[c] = sumPassing([&](size_t o) { return dot3(normal[o], normal[j]) > threshold; }, k);
                continue;
            }
            const uint64_t passes = few ? rows[j] : at.passes[at.label[j]];
            auto same = std::find_if(known.begin(), known.end(), [&](const auto& s) { return s.first == passes; });
            if (same == known.end()) {
                known.emplace_back(passes, sumPassing([&](size_t o) { return passes >> (few ? o : at.label[o]) & 1; }, k));
                same = known.end() - 1;
            }
            result[c] = same->second;
        }
    }

private:
    template <class test>
    triple sumPassing(const test& passes, size_t k) const
    {
        triple sum{0, 0, 0};
        for (size_t o = 0; o < k; ++o)
            if (passes(o))
                sum = {sum.x + weighted[o].x, sum.y + weighted[o].y, sum.z + weighted[o].z};
        return normalised(sum);
    }

    const triple* faceNormal;
    const double* angle;
    const std::vector<uint8_t>& marked;
    const double threshold;
    triple* result;
    std::vector<triple> normal, weighted;
    cornerLabels at;
    std::vector<std::pair<uint64_t, triple>> known;
};

// The corners of each position together, in file order: those at position n are
// members[first[n]] up to members[first[n + 1]].
struct cornerGroups {
    std::vector<uint32_t> first;
    std::unique_ptr<uint32_t[]> members;

    cornerGroups(const uint32_t* positionOf, size_t corners, size_t positions)
        : first(positions + 1, 0), members(new uint32_t[corners])
    {
        for (size_t c = 0; c < corners; ++c)
            ++first[positionOf[c] + 1];
        for (size_t n = 0; n < positions; ++n)
            first[n + 1] += first[n];
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        for (size_t c = 0; c < corners; ++c)
            members[fill[positionOf[c]]++] = static_cast<uint32_t>(c);
    }
};

} // namespace

long long computeCornerNormals(object& obj, const std::vector<uint8_t>& marked)
{
    const size_t count = std::min(marked.size(), obj.polygons.size());
    // Every marked corner is given a normal.
    long long given = 0;
    bool every = true;
    for (size_t i = 0; i < count; ++i) {
        given += __builtin_popcount(marked[i] & 7u);
        every = every && (marked[i] & 7) == 7;
    }
    if (given == 0)
        return 0;

    // A polygon takes over 400 bytes, so corner numbers fit in 32 bits. Work that is the same
    // for any split is shared among the threads in runs of polygons or of positions.
    const size_t corners = 3 * count;
    const size_t chunk = 16384;
    const int polygonPieces = static_cast<int>((count + chunk - 1) / chunk);
    auto rangeOf = [&](int piece, size_t total) {
        return std::make_pair(static_cast<size_t>(piece) * chunk, std::min(total, (static_cast<size_t>(piece) + 1) * chunk));
    };

    // Each corner's angle once, and the face normals, in arrays small enough that the corners
    // of nearby positions share the caches.
    std::unique_ptr<double[]> angle(new double[corners]);
    std::unique_ptr<triple[]> faceNormal(new triple[count]);
    auto measure = [&](size_t i) {
        const polygon& p = obj.polygons[i];
        faceNormal[i] = {p.faceNormal.x, p.faceNormal.y, p.faceNormal.z};
        for (int k = 0; k < 3; ++k)
            angle[3 * i + static_cast<size_t>(k)] = cornerAngle(p, k);
    };

    // Every corner numbered by its position. While one thread numbers them, the others
    // measure the angles when every corner wants a normal (otherwise only the polygons at
    // wanted positions, afterwards). A closed mesh has about one position for six corners;
    // the file's vertex count, where there is one, is the better guess.
    std::unique_ptr<uint32_t[]> positionOf(new uint32_t[corners]);
    std::vector<uint8_t> positionMarked; // whether any corner at the position wants a normal
    sharedWorkers().forEachPiece(1 + (every ? polygonPieces : 0), [&](int piece) {
        if (piece > 0) {
            const auto [begin, end] = rangeOf(piece - 1, count);
            for (size_t i = begin; i < end; ++i)
                measure(i);
            return;
        }
        positionTable table(std::min(corners, std::max(obj.vertices.size() + 1, corners / 6)));
        table.numberCorners(obj.polygons.data(), count, positionOf.get());
        positionMarked.assign(table.size(), every ? 1 : 0);
        for (size_t c = 0; c < corners && !every; ++c)
            positionMarked[positionOf[c]] |= marked[c / 3] >> (c % 3) & 1;
    });
    const size_t positionCount = positionMarked.size();
    if (!every)
        sharedWorkers().forEachPiece(polygonPieces, [&](int piece) {
            const auto [begin, end] = rangeOf(piece, count);
            for (size_t i = begin; i < end; ++i)
                if (positionMarked[positionOf[3 * i]] | positionMarked[positionOf[3 * i + 1]] |
                    positionMarked[positionOf[3 * i + 2]])
                    measure(i);
        });

    // The normals go into the polygons afterwards, in their order: scattered writes into them
    // cost more.
    const cornerGroups groups(positionOf.get(), corners, positionCount);
    const int positionPieces = static_cast<int>((positionCount + chunk - 1) / chunk);
    std::unique_ptr<triple[]> result(new triple[corners]);
    sharedWorkers().forEachPiece(positionPieces, [&](int piece) {
        positionSums sums(faceNormal.get(), angle.get(), marked, obj.sharpEdgeThreshold, result.get());
        const auto [begin, end] = rangeOf(piece, positionCount);
        for (size_t n = begin; n < end; ++n)
            if (positionMarked[n])
                sums.sumAt(groups.members.get() + groups.first[n], groups.first[n + 1] - groups.first[n]);
    });
    sharedWorkers().forEachPiece(polygonPieces, [&](int piece) {
        const auto [begin, end] = rangeOf(piece, count);
        for (size_t i = begin; i < end; ++i)
            for (int k = 0; k < 3; ++k)
                if (marked[i] >> k & 1) {
                    const triple& r = result[3 * i + static_cast<size_t>(k)];
                    obj.polygons[i].normal[k] = vector(r.x, r.y, r.z);
                }
    });
    return given;
}
