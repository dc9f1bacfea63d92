#include "core/console.h"
#include "core/wholefile.h"
#include "mesh/normals.h"
#include "mesh/object.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// The C locale's isspace set; a table keeps the per-byte test branch-free and locale-proof.
struct spaceTable {
    bool entry[256] = {};
    constexpr spaceTable()
    {
        entry[static_cast<unsigned char>(' ')] = true;
        entry[static_cast<unsigned char>('\t')] = true;
        entry[static_cast<unsigned char>('\n')] = true;
        entry[static_cast<unsigned char>('\v')] = true;
        entry[static_cast<unsigned char>('\f')] = true;
        entry[static_cast<unsigned char>('\r')] = true;
    }
};
constexpr spaceTable spaces;

inline bool isSpace(char c) { return spaces.entry[static_cast<unsigned char>(c)]; }

// The arrays of a large mesh are written once, front to back, right after they are made.
template <typename T>
void preferLargePages(const std::vector<T>& list)
{
    preferLargePages(list.data(), list.capacity() * sizeof(T));
}

// The kernel clears every page a new array touches, and for a large mesh that costs more than
// the parsing. A second thread asks for the pages of the large blocks up front, so that the
// clearing runs beside the parsing instead of inside it. Only a request: nothing depends on it.
class pageClearer {
public:
    pageClearer() = default;
    pageClearer(const pageClearer&) = delete;
    pageClearer& operator=(const pageClearer&) = delete;
    ~pageClearer() { finish(); }

    void add(const void* start, size_t bytes)
    {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        const pageSpan span = wholePages(start, bytes, 4096);
        if (span.bytes >= (size_t(4) << 20))
            blocks.push_back({span.first, span.bytes});
#else
        (void)start;
        (void)bytes;
#endif
    }
    template <typename T>
    void add(const std::vector<T>& list)
    {
        add(list.data(), list.capacity() * sizeof(T));
    }

    void start()
    {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        if (blocks.empty())
            return;
        try {
            worker = std::thread([this] {
                for (const block& b : blocks)
                    madvise(reinterpret_cast<void*>(b.start), b.bytes, MADV_POPULATE_WRITE);
            });
        } catch (const std::system_error&) {
            // No thread to spare: the parser clears its own pages as before.
        }
#endif
    }
    void finish()
    {
        if (worker.joinable())
            worker.join();
    }

private:
    struct block {
        uintptr_t start;
        size_t bytes;
    };
    std::vector<block> blocks;
    std::thread worker;
};

using recordCounts = objRecordCounts;

// Per-byte masks of one 64-byte block: bit k describes byte k.
struct blockMasks {
    uint64_t space = 0;
    uint64_t v = 0;
    uint64_t f = 0;
    uint64_t t = 0;
    uint64_t n = 0;
};

#if defined(__SSE2__)
inline uint64_t movemask16(__m128i m) { return static_cast<uint16_t>(_mm_movemask_epi8(m)); }

blockMasks classify(const char* p)
{
    blockMasks m;
    const __m128i blank = _mm_set1_epi8(' ');
    // \t..\r (9..13) moved to the bottom of the signed range, so one compare finds them.
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80 - 9));
    const __m128i controlLimit = _mm_set1_epi8(static_cast<char>(0x80 + 5));
    const __m128i lowV = _mm_set1_epi8('v');
    const __m128i lowF = _mm_set1_epi8('f');
    const __m128i lowT = _mm_set1_epi8('t');
    const __m128i lowN = _mm_set1_epi8('n');
    for (int i = 0; i < 4; ++i) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        __m128i control = _mm_cmplt_epi8(_mm_add_epi8(x, bias), controlLimit);
        __m128i space = _mm_or_si128(_mm_cmpeq_epi8(x, blank), control);
        int shift = 16 * i;
        m.space |= movemask16(space) << shift;
        m.v |= movemask16(_mm_cmpeq_epi8(x, lowV)) << shift;
        m.f |= movemask16(_mm_cmpeq_epi8(x, lowF)) << shift;
        m.t |= movemask16(_mm_cmpeq_epi8(x, lowT)) << shift;
        m.n |= movemask16(_mm_cmpeq_epi8(x, lowN)) << shift;
    }
    return m;
}
#else
blockMasks classify(const char* p)
{
    blockMasks m;
    for (int k = 0; k < 64; ++k) {
        uint64_t bit = uint64_t(1) << k;
        char c = p[k];
        if (isSpace(c)) m.space |= bit;
        if (c == 'v') m.v |= bit;
        if (c == 'f') m.f |= bit;
        if (c == 't') m.t |= bit;
        if (c == 'n') m.n |= bit;
    }
    return m;
}
#endif

inline size_t bitCount(uint64_t m)
{
    // Keyword bits are sparse: a few per block at most.
    size_t c = 0;
    while (m) {
        m &= m - 1;
        ++c;
    }
    return c;
}

// Counts the words "v", "vt", "vn" and "f" wherever they stand, a block of 64 bytes at a time:
// a word starts at a non-space byte after a space (or at the start), and the keyword test
// needs the one or two bytes after it, so each block looks ahead into the next one.
recordCounts countRecords(const char* data, size_t size)
{
    recordCounts counts;
    size_t blocks = (size + 63) / 64;
    if (blocks == 0)
        return counts;

    // The end of the data ends a word just as a space does, so the last block is padded
    // with spaces, and so is the block after it.
    char tail[64];
    auto classifyBlock = [&](size_t b) {
        size_t start = b * 64;
        if (start + 64 <= size)
            return classify(data + start);
        std::memset(tail, ' ', sizeof tail);
        if (start < size)
            std::memcpy(tail, data + start, size - start);
        return classify(tail);
    };

    blockMasks cur = classifyBlock(0);
    uint64_t spaceBefore = 1; // the start of the data counts as after a space
    for (size_t b = 0; b < blocks; ++b) {
        blockMasks next = classifyBlock(b + 1);
        uint64_t starts = ~cur.space & ((cur.space << 1) | spaceBefore);
        uint64_t space1 = (cur.space >> 1) | (next.space << 63);
        uint64_t space2 = (cur.space >> 2) | (next.space << 62);
        uint64_t t1 = (cur.t >> 1) | (next.t << 63);
        uint64_t n1 = (cur.n >> 1) | (next.n << 63);
        uint64_t startV = starts & cur.v;
        counts.vertices += bitCount(startV & space1);
        counts.uvs += bitCount(startV & t1 & space2);
        counts.normals += bitCount(startV & n1 & space2);
        counts.faces += bitCount(starts & cur.f & space1);
        spaceBefore = cur.space >> 63;
        cur = next;
    }
    return counts;
}

// Walks the words of the data, with the conversions of the reading pass.
class wordReader {
public:
    wordReader(const char* data, size_t size) : p(data), end(data + size) {}

    // Moves to the start of the next word; false when none is left.
    bool nextWord()
    {
        while (p < end && isSpace(*p))
            ++p;
        return p < end;
    }

    void skipWord()
    {
        while (p < end && !isSpace(*p))
            ++p;
    }

    // The word at p is exactly the len bytes of kw. Does not move.
    bool at(const char* kw, size_t len) const
    {
        if (static_cast<size_t>(end - p) < len || std::memcmp(p, kw, len) != 0)
            return false;
        return p + len == end || isSpace(p[len]);
    }

    // The next word converted as strtod does; 0 when there is no next word.
    double nextDouble()
    {
        if (!nextWord())
            return 0.0;
        const char* start = p;
        const char* first = start;
        if (*first == '-' && first + 1 < end)
            ++first;
        // from_chars rejects a leading '+' and spells hex, infinities and NaNs differently,
        // so only plain decimal words take the fast roads.
        if ((*first >= '0' && *first <= '9') || *first == '.') {
            double value;
            if (plainDecimal(start, first, value))
                return value;
            std::from_chars_result r = std::from_chars(start, end, value);
            if (r.ec == std::errc() && (r.ptr == end || isSpace(*r.ptr))) {
                p = r.ptr;
                return value;
            }
        }
        skipWord();
        return slowDouble(start, p);
    }

    // Parses a corner word "v", "v/vt", "v//vn" or "v/vt/vn" and moves past it. An index
    // that the word does not name is left absent; one too large for an int is kept as a
    // value no list can reach.
    struct corner {
        long long index[3] = {0, 0, 0};
        bool present[3] = {false, false, false};
    };
    bool nextCorner(corner& c)
    {
        if (!nextWord())
            return false;
        readCorner(c);
        return true;
    }
    // The same for the word at p.
    void readCorner(corner& c)
    {
        if (readIndex(c.index[0])) {
            c.present[0] = true;
            if (p < end && *p == '/') {
                ++p;
                c.present[1] = readIndex(c.index[1]);
                if (p < end && *p == '/') {
                    ++p;
                    c.present[2] = readIndex(c.index[2]);
                }
            }
        }
        skipWord();
    }

    // Moves to the start of the next word on the current line; false at the line's end
    // (a line feed or carriage return, which it does not pass) or the data's.
    bool nextWordOnLine()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\v' || *p == '\f'))
            ++p;
        return p < end && *p != '\n' && *p != '\r';
    }

    const char* p;
    const char* end;

private:
    // Like "%d": an optional sign and decimal digits.
    bool readIndex(long long& value)
    {
        const char* q = p;
        bool negative = false;
        if (q < end && (*q == '+' || *q == '-')) {
            negative = *q == '-';
            ++q;
        }
        const char* digits = q;
        long long v = 0;
        const long long cap = static_cast<long long>(INT_MAX) + 2; // beyond every count
        while (q < end && *q >= '0' && *q <= '9') {
            if (v < cap)
                v = v * 10 + (*q - '0');
            ++q;
        }
        if (q == digits)
            return false;
        value = negative ? -v : v;
        p = q;
        return true;
    }

    // The common "-12.345678" word: when its digits form an integer below 2^53 and there are
    // at most 22 of them after the point, integer and power of ten are both exact doubles and
    // one division rounds the quotient correctly, which is what strtod returns too.
    bool plainDecimal(const char* start, const char* digits, double& value)
    {
        static const double powersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const uint64_t exactLimit = uint64_t(1) << 53;
        const char* q = digits;
        uint64_t mantissa = 0;
        int count = 0;
        while (q < end && static_cast<unsigned char>(*q - '0') <= 9 && count < 18) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
            ++q;
            ++count;
        }
        int fraction = 0;
        if (q < end && *q == '.') {
            ++q;
            while (q < end && static_cast<unsigned char>(*q - '0') <= 9 && count < 18) {
                mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
                ++q;
                ++count;
                ++fraction;
            }
        }
        if (count == 0 || count >= 18 || fraction > 22 || mantissa > exactLimit ||
            (q < end && !isSpace(*q)))
            return false;
        double magnitude = static_cast<double>(mantissa) / powersOfTen[fraction];
        value = start == digits ? magnitude : -magnitude;
        p = q;
        return true;
    }

    double slowDouble(const char* start, const char* stop)
    {
        size_t len = static_cast<size_t>(stop - start);
        char small[128];
        char* text = small;
        if (len >= sizeof small) {
            spill.assign(start, len);
            text = spill.data();
        } else {
            std::memcpy(small, start, len);
            small[len] = '\0';
        }
        return std::strtod(text, nullptr);
    }

    std::string spill; // for the rare word longer than the stack buffer
};

// The 0-based entry an OBJ index names, or -1 when it names none. Positive indices count
// from the first record of the file, negative ones back from the last one read so far.
inline long long resolveIndex(long long index, size_t total, size_t readSoFar)
{
    long long at = index > 0 ? index - 1 : static_cast<long long>(readSoFar) + index;
    if (index == 0 || at < 0 || static_cast<size_t>(at) >= total)
        return -1;
    return at;
}

// What the loader reports once per file, after its counts.
enum class objReport { vertexIndex, uvIndex, normalIndex, shortFace, tooManyFaces, longFace, count };
const char* const reportText[static_cast<int>(objReport::count)] = {
    "ERROR: Vertex index is out of range!\n",
    "ERROR: UV index is out of range!\n",
    "ERROR: Normal index is out of range!\n",
    "ERROR: Faces with fewer than three corners skipped!\n",
    "ERROR: Faces beyond the triangles memory can hold skipped!\n",
    "ERROR: Faces of more than 65536 corners skipped!\n",
};

// A face's corners take some 150 bytes each while it is split; no real face comes near this.
const size_t maxFaceCorners = 65536;

// What reading the faces keeps besides the polygons: corners that name a record further on
// in the file, filled in once every record is read; faces whose triangles wait for such a
// record to be placed; which corners want a computed normal; and the messages, each printed
// once per file (so a mesh of faulty corners cannot flood the console) after the report.
struct faceReading {
    // One corner's entries in the three lists: -1 for none (absent or out of range).
    struct faceCorner {
        long long at[3];
        bool wantsNormal; // no normal index: the loader computes one
    };
    struct laterRecord {
        size_t polygon;
        int corner;
        int slot; // 0 position, 1 texture coordinate, 2 normal
        size_t at;
    };
    struct laterFace {
        size_t firstPolygon;
        std::vector<faceCorner> corners;
    };
    std::vector<faceCorner> corners; // of the face being read
    std::vector<laterRecord> later;
    std::vector<laterFace> laterFaces;
    std::vector<uint8_t> wantsNormal; // per polygon, bit k for corner k; empty when none does
    std::vector<int> triangles;       // corner numbers, three a triangle, of the face being split
    size_t maxPolygons = INT_MAX;
    // Ear clipping tries each corner against the others: the turns the file's non-convex faces
    // may take together, so that a file of huge folded faces costs time in proportion to it.
    // Faces past it are fanned.
    long long earTurns = 0;
    bool reported[static_cast<int>(objReport::count)] = {};
    std::string messages;
    bool faceOutOfRange = false; // the face being read names an index outside its list
    int facesOutOfRange = 0;

    void reportOnce(objReport which)
    {
        bool& done = reported[static_cast<int>(which)];
        if (!done)
            messages += reportText[static_cast<int>(which)];
        done = true;
    }
};

// The report of an index out of range, by slot: position, texture coordinate, normal.
const objReport indexReports[3] = {objReport::vertexIndex, objReport::uvIndex, objReport::normalIndex};

vector* cornerSlot(polygon& poly, int slot, int k)
{
    return slot == 0 ? &poly.position[k] : slot == 1 ? &poly.texCoord[k] : &poly.normal[k];
}

// The entries a corner word names. A file without "vn" records has nothing a normal index
// could name, so such an index is reported like any other that reaches outside its list.
inline faceReading::faceCorner resolveCorner(const object& obj, const wordReader::corner& c, faceReading& reading)
{
    const std::vector<vector>* lists[3] = {&obj.vertices, &obj.uvs, &obj.normals};
    const int totals[3] = {obj.vertexCount, obj.uvCount, obj.normalCount};
    faceReading::faceCorner out{{-1, -1, -1}, !c.present[2] || obj.normalCount == 0};
    for (int slot = 0; slot < 3; ++slot) {
        if (!c.present[slot])
            continue;
        out.at[slot] = resolveIndex(c.index[slot], static_cast<size_t>(totals[slot]), lists[slot]->size());
        if (out.at[slot] < 0) {
            reading.reportOnce(indexReports[slot]);
            reading.faceOutOfRange = true;
        }
    }
    return out;
}

void setFaceNormal(polygon& poly)
{
    poly.faceNormal = cross(poly.position[1] - poly.position[0], poly.position[2] - poly.position[0]);
    normalise(poly.faceNormal);
}

// Fills polygon i from three resolved corners; entries not read yet are filled in after the
// last record.
inline void fillTriangle(object& obj, size_t i, const faceReading::faceCorner* const corner[3], faceReading& reading)
{
    const std::vector<vector>* lists[3] = {&obj.vertices, &obj.uvs, &obj.normals};
    polygon& poly = obj.polygons[i];
    uint8_t wants = 0;
    for (int k = 0; k < 3; ++k) {
        for (int slot = 0; slot < 3; ++slot) {
            long long at = corner[k]->at[slot];
            if (at < 0)
                continue;
            if (static_cast<size_t>(at) < lists[slot]->size())
                *cornerSlot(poly, slot, k) = (*lists[slot])[static_cast<size_t>(at)];
            else
                reading.later.push_back({i, k, slot, static_cast<size_t>(at)});
        }
        wants |= static_cast<uint8_t>(corner[k]->wantsNormal) << k;
    }
    if (wants) {
        reading.wantsNormal.resize(obj.polygons.size());
        reading.wantsNormal[i] = wants;
    }
    setFaceNormal(poly);
}

// Splits a face of n > 3 corners into n - 2 triangles (corner numbers, three a triangle,
// each in the face's own order): a fan from corner 0 when the face is convex in its plane,
// else ear clipping, so that no triangle reaches outside the face. Ear clipping takes from
// turnsLeft the turns it tests; what is left of the face when they run out is fanned.
void splitFace(const std::vector<vector>& points, std::vector<int>& triangles, long long& turnsLeft)
{
    const int n = static_cast<int>(points.size());
    triangles.clear();
    auto fan = [&](const std::vector<int>& order) {
        for (size_t k = 1; k + 1 < order.size(); ++k)
            triangles.insert(triangles.end(), {order[0], order[k], order[k + 1]});
    };
    std::vector<int> order(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        order[static_cast<size_t>(k)] = k;

    // The face's plane by Newell's sums; its largest axis is dropped to work in 2-D.
    vector normal(0, 0, 0);
    for (int k = 0; k < n; ++k) {
        const vector& a = points[static_cast<size_t>(k)];
        const vector& b = points[static_cast<size_t>((k + 1) % n)];
        normal.x += (a.y - b.y) * (a.z + b.z);
        normal.y += (a.z - b.z) * (a.x + b.x);
        normal.z += (a.x - b.x) * (a.y + b.y);
    }
    double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    if (!(ax + ay + az > 0) || !std::isfinite(ax + ay + az)) {
        fan(order);
        return;
    }
    // 2-D coordinates with the face counter-clockwise.
    int drop = az >= ax && az >= ay ? 2 : (ay >= ax ? 1 : 0);
    double sign = (drop == 2 ? normal.z : drop == 1 ? normal.y : normal.x) > 0 ? 1.0 : -1.0;
    std::vector<double> u(static_cast<size_t>(n)), v(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const vector& q = points[static_cast<size_t>(k)];
        double a = drop == 0 ? q.y : q.x, b = drop == 2 ? q.y : q.z;
        if (drop == 1)
            std::swap(a, b); // (z, x) keeps the right-handed order about y
        u[static_cast<size_t>(k)] = a;
        v[static_cast<size_t>(k)] = b * sign;
    }
    long long turns = 0;
    auto turn = [&](int a, int b, int c) {
        ++turns;
        size_t i = static_cast<size_t>(a), j = static_cast<size_t>(b), k = static_cast<size_t>(c);
        return (u[j] - u[i]) * (v[k] - v[i]) - (v[j] - v[i]) * (u[k] - u[i]);
    };
    bool convex = true;
    for (int k = 0; k < n && convex; ++k)
        convex = turn(k, (k + 1) % n, (k + 2) % n) >= 0;
    if (convex) {
        fan(order);
        return;
    }

    std::vector<int> left = order;
    turns = 0;
    while (left.size() > 3) {
        const size_t m = left.size();
        size_t ear = m;
        for (size_t k = 0; k < m && ear == m && turns <= turnsLeft; ++k) {
            int a = left[(k + m - 1) % m], b = left[k], c = left[(k + 1) % m];
            if (turn(a, b, c) <= 0)
                continue;
            bool empty = true;
            for (size_t j = 0; j < m && empty; ++j) {
                int q = left[j];
                if (q == a || q == b || q == c)
                    continue;
                // On the boundary counts as inside, so that no ear cuts through a corner.
                empty = !(turn(a, b, q) >= 0 && turn(b, c, q) >= 0 && turn(c, a, q) >= 0);
            }
            if (empty)
                ear = k;
        }
        if (ear == m || turns > turnsLeft) {
            // Self-intersecting or folded (no clean ear is left), or out of turns: fan the rest.
            turnsLeft -= turns;
            fan(left);
            return;
        }
        triangles.insert(triangles.end(), {left[(ear + m - 1) % m], left[ear], left[(ear + 1) % m]});
        left.erase(left.begin() + static_cast<long>(ear));
    }
    triangles.insert(triangles.end(), {left[0], left[1], left[2]});
    turnsLeft -= turns;
}

// Fills the n - 2 polygons from first on with the triangles of a face of n > 3 corners, whose
// positions have all been read.
void splitAndFill(object& obj, size_t first, const std::vector<faceReading::faceCorner>& corners, faceReading& reading)
{
    std::vector<vector> points(corners.size());
    for (size_t k = 0; k < points.size(); ++k)
        if (corners[k].at[0] >= 0)
            points[k] = obj.vertices[static_cast<size_t>(corners[k].at[0])];
    splitFace(points, reading.triangles, reading.earTurns);
    for (size_t t = 0; t + 2 < reading.triangles.size(); t += 3) {
        const faceReading::faceCorner* const three[3] = {&corners[static_cast<size_t>(reading.triangles[t])],
                                                         &corners[static_cast<size_t>(reading.triangles[t + 1])],
                                                         &corners[static_cast<size_t>(reading.triangles[t + 2])]};
        fillTriangle(obj, first + t / 3, three, reading);
    }
}

// Adds the triangles of a face just read at the end of the polygons.
void addFace(object& obj, const std::vector<faceReading::faceCorner>& corners, faceReading& reading)
{
    const size_t first = obj.polygons.size();
    obj.polygons.resize(first + corners.size() - 2);
    if (corners.size() == 3) {
        const faceReading::faceCorner* const three[3] = {&corners[0], &corners[1], &corners[2]};
        fillTriangle(obj, first, three, reading);
        return;
    }
    // A face is split by its corners' positions: one that comes later in the file waits.
    for (const faceReading::faceCorner& c : corners)
        if (c.at[0] >= 0 && static_cast<size_t>(c.at[0]) >= obj.vertices.size()) {
            reading.laterFaces.push_back({first, corners});
            return;
        }
    splitAndFill(obj, first, corners, reading);
}

// Reads the records in file order into obj's lists, sized by the first pass's counts; faces
// become triangles.
void readRecords(object& obj, const char* data, size_t size, const recordCounts& counts, faceReading& reading)
{
    wordReader in(data, size);
    size_t facesRead = 0;
    while (in.nextWord()) {
        const char first = *in.p;
        if (first == 'v') {
            if (in.at("v", 1) && obj.vertices.size() < counts.vertices) {
                ++in.p;
                const double x = in.nextDouble(), y = in.nextDouble(), z = in.nextDouble();
                obj.vertices.emplace_back(x, y, z);
                continue;
            }
            if (in.at("vt", 2) && obj.uvs.size() < counts.uvs) {
                in.p += 2;
                const double u = in.nextDouble(), v = in.nextDouble();
                obj.uvs.emplace_back(u, v, 0.0);
                continue;
            }
            if (in.at("vn", 2) && obj.normals.size() < counts.normals) {
                in.p += 2;
                const double x = in.nextDouble(), y = in.nextDouble(), z = in.nextDouble();
                obj.normals.emplace_back(x, y, z);
                continue;
            }
        } else if (first == 'f' && in.at("f", 1) && facesRead < counts.faces) {
            // A face is the corner words of its line, up to a comment.
            ++in.p;
            ++facesRead;
            reading.corners.clear();
            reading.faceOutOfRange = false;
            size_t corners = 0;
            while (in.nextWordOnLine() && *in.p != '#') {
                wordReader::corner c;
                in.readCorner(c);
                // A face too long to split is only counted.
                if (++corners <= maxFaceCorners)
                    reading.corners.push_back(resolveCorner(obj, c, reading));
            }
            if (corners < 3)
                reading.reportOnce(objReport::shortFace);
            else if (corners > maxFaceCorners)
                reading.reportOnce(objReport::longFace);
            else if (obj.polygons.size() + corners - 2 + (counts.faces - facesRead) > reading.maxPolygons)
                reading.reportOnce(objReport::tooManyFaces);
            else
                addFace(obj, reading.corners, reading);
            reading.facesOutOfRange += reading.faceOutOfRange;
            continue;
        }
        in.skipWord();
    }

    // Keywords that were swallowed as another record's operands were counted but never
    // read; their entries stay at their defaults (a face as one default triangle).
    obj.vertices.resize(counts.vertices);
    obj.uvs.resize(counts.uvs);
    obj.normals.resize(counts.normals);
    obj.polygons.resize(obj.polygons.size() + (counts.faces - facesRead));
    if (!reading.wantsNormal.empty())
        reading.wantsNormal.resize(obj.polygons.size());

    for (const faceReading::laterFace& face : reading.laterFaces)
        splitAndFill(obj, face.firstPolygon, face.corners, reading);
    const std::vector<vector>* lists[3] = {&obj.vertices, &obj.uvs, &obj.normals};
    for (const faceReading::laterRecord& r : reading.later) {
        polygon& poly = obj.polygons[r.polygon];
        *cornerSlot(poly, r.slot, r.corner) = (*lists[r.slot])[r.at];
        if (r.slot == 0)
            setFaceNormal(poly);
    }
}

void reportCounts(const object& obj, const std::string& path)
{
    sayText("Object Data: \n\n");
    sayText("FILE NAME: " + path + "\n");
    say("VERTICES: %d\n", obj.vertexCount);
    say("UVS: %d\n", obj.uvCount);
    say("NORMALS: %d\n", obj.normalCount);
    say("POLYGONS: %d\n\n", obj.polygonCount);
}

void reportNoObject() { say("ERROR: New object could not be created!\n"); }

// A record costs two bytes of file but a vector, or for a face two polygons (its shading copy
// is made during preparation) and up to three edges, of memory. A file full of bare keywords
// could so ask for a hundred times its size; refuse what could never fit rather than start it.
double physicalMemory()
{
#if defined(__linux__)
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        return static_cast<double>(pages) * static_cast<double>(pageSize);
#endif
    return 0; // unknown
}

const double bytesPerTriangle = 2 * sizeof(polygon) + 3 * sizeof(edge);

bool fitsInMemory(const recordCounts& counts)
{
    double memory = physicalMemory();
    double need = static_cast<double>(counts.vertices + counts.uvs + counts.normals) * sizeof(vector) +
                  static_cast<double>(counts.faces) * bytesPerTriangle;
    return memory == 0 || need <= memory;
}

// A face of many corners makes many triangles from a short line, so the triangles are
// bounded as they are made: no more than memory holds, nor than an int counts.
size_t triangleBudget()
{
    double memory = physicalMemory();
    double most = memory == 0 ? INT_MAX : std::min<double>(INT_MAX, memory / bytesPerTriangle);
    return static_cast<size_t>(most);
}

} // namespace

std::unique_ptr<object> parseObject(const char* data, size_t size, const std::string& path,
                                    int mapWidth, int mapHeight)
{
    if (mapWidth > 0 && mapHeight > 0 &&
        static_cast<long long>(mapWidth) * mapHeight > maxMapTexels) {
        reportNoObject();
        return nullptr;
    }
    // Whatever does not fit in memory fails like a file that holds no object.
    std::unique_ptr<object> obj;
    pageClearer clearer; // joined before the object can go
    recordCounts counts;
    try {
        obj = std::make_unique<object>(mapWidth, mapHeight);
        if (mapWidth > 0 && mapHeight > 0 &&
            (!obj->diffuseBitmap->pixels || !obj->ambientBitmap->pixels || !obj->specularBitmap->pixels ||
             !obj->finalBitmap->pixels)) {
            reportNoObject();
            return nullptr;
        }
        counts = countRecords(data, size);
        // More records than an int can count could never be held anyway.
        const size_t limit = INT_MAX;
        if (counts.vertices > limit || counts.uvs > limit || counts.normals > limit || counts.faces > limit ||
            !fitsInMemory(counts)) {
            reportNoObject();
            return nullptr;
        }
        obj->vertices.reserve(counts.vertices);
        obj->uvs.reserve(counts.uvs);
        obj->normals.reserve(counts.normals);
        obj->polygons.reserve(counts.faces);
        preferLargePages(obj->vertices);
        preferLargePages(obj->uvs);
        preferLargePages(obj->normals);
        preferLargePages(obj->polygons);
        // The faces come last in most files: their block first, while the parser reads the
        // records before them.
        // Only as many triangles as a file of this size would hold at some 24 bytes a face:
        // a file of bare "f" lines has its pages cleared only when written.
        clearer.add(obj->polygons.data(), std::min<size_t>(counts.faces, size / 24 + 16) * sizeof(polygon));
        clearer.add(obj->normals);
        clearer.add(obj->uvs);
        clearer.add(obj->vertices);
        clearer.start();
    } catch (const std::bad_alloc&) {
        reportNoObject();
        return nullptr;
    } catch (const std::length_error&) {
        reportNoObject();
        return nullptr;
    }
    obj->vertexCount = static_cast<int>(counts.vertices);
    obj->uvCount = static_cast<int>(counts.uvs);
    obj->normalCount = static_cast<int>(counts.normals);

    obj->sourcePath = path;
    faceReading reading;
    reading.maxPolygons = triangleBudget();
    reading.earTurns = 20000000 + 64 * static_cast<long long>(size);
    readRecords(*obj, data, size, counts, reading);
    obj->polygonCount = static_cast<int>(obj->polygons.size());
    obj->facesOutOfRange = reading.facesOutOfRange;
    reportCounts(*obj, path);
    sayText(reading.messages);
    if (long long computed = computeCornerNormals(*obj, reading.wantsNormal))
        say("NORMALS COMPUTED: %lld corners without a normal in the file\n", computed);
    sayText("Object '" + path + "' loaded successfully\n");
    return obj;
}

objRecordCounts countObjRecords(const char* data, size_t size) { return countRecords(data, size); }

std::unique_ptr<object> loadObject(const std::string& path, int mapWidth, int mapHeight)
{
    const wholeFile file = readWholeFile(path, LLONG_MAX);
    if (file.fault != fileFault::none) {
        sayText("ERROR: OBJ file '" + path + "' could not be opened!\n");
        return nullptr;
    }
    return parseObject(file.data.get(), file.size, path, mapWidth, mapHeight);
}
