#include "core/console.h"
#include "core/image.h"
#include "mesh/object.h"
#include "tests/jpegmaker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

// Files made to make a reader do more than its output asks for, one row each. Every reader
// must stay within the memory of what it makes (and what a progressive JPEG needs to make it)
// plus 64 MiB, and within a second of CPU time per MB of input plus what its output explains.
// Each file is read in a child process of its own, which measures its peak memory and CPU time.

namespace {

const double MiB = 1024.0 * 1024.0;

#if defined(__SANITIZE_ADDRESS__)
const bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool sanitized = true;
#else
const bool sanitized = false;
#endif
#else
const bool sanitized = false;
#endif
#ifdef NDEBUG
const bool optimised = true;
#else
const bool optimised = false;
#endif

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "bounds_test_" + std::to_string(getpid()) + "_" + name;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void append(std::vector<uint8_t>& to, const std::string& text) { to.insert(to.end(), text.begin(), text.end()); }

void put32be(std::vector<uint8_t>& d, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        d.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put32le(std::vector<uint8_t>& d, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        d[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A chunk whose length field may say more than it holds; its CRC is right for what it holds.
void pngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data, uint32_t length)
{
    put32be(png, length);
    std::vector<uint8_t> named(type, type + 4);
    named.insert(named.end(), data.begin(), data.end());
    png.insert(png.end(), named.begin(), named.end());
    put32be(png, static_cast<uint32_t>(crc32(0, named.data(), static_cast<uInt>(named.size()))));
}

std::vector<uint8_t> pngHead(uint32_t width, uint32_t height, uint8_t depth, uint8_t type)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    put32be(header, width);
    put32be(header, height);
    header.insert(header.end(), {depth, type, 0, 0, 0});
    pngChunk(png, "IHDR", header, 13);
    return png;
}

std::vector<uint8_t> deflated(const std::vector<uint8_t>& raw)
{
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> out(n);
    compress(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
    out.resize(n);
    return out;
}

// 4 x 4 RGB pixels after an iTXt chunk that claims 1.9 GB: some 780 bytes in all.
std::vector<uint8_t> pngWithLyingTextChunk()
{
    std::vector<uint8_t> png = pngHead(4, 4, 8, 2), text;
    append(text, std::string("XML:com.adobe.xmp") + std::string(5, '\0') + std::string(700, 'x'));
    pngChunk(png, "iTXt", text, 1900000000);
    const std::vector<uint8_t> pixels = deflated(std::vector<uint8_t>(4 * 13, 0));
    pngChunk(png, "IDAT", pixels, static_cast<uint32_t>(pixels.size()));
    pngChunk(png, "IEND", {}, 0);
    return png;
}

// A grey image 1 pixel wide and 200 million rows high, of which the pixels of 10 rows follow.
std::vector<uint8_t> pngWithLyingHeight()
{
    std::vector<uint8_t> png = pngHead(1, 200000000, 8, 0);
    const std::vector<uint8_t> pixels = deflated(std::vector<uint8_t>(20, 0));
    pngChunk(png, "IDAT", pixels, static_cast<uint32_t>(pixels.size()));
    pngChunk(png, "IEND", {}, 0);
    return png;
}

// A BMP file's 54 bytes of headers, a palette of grey colours, then some bytes of pixels.
std::vector<uint8_t> bmpFile(int32_t width, int32_t height, uint32_t compression, uint16_t bits,
                             uint32_t sizeImage, uint32_t colours, size_t pixelBytes)
{
    const uint32_t offBits = 54 + 4 * colours;
    std::vector<uint8_t> d(offBits + pixelBytes, 0);
    d[0] = 'B';
    d[1] = 'M';
    put32le(d, 2, static_cast<uint32_t>(d.size()));
    put32le(d, 10, offBits);
    put32le(d, 14, 40);
    put32le(d, 18, static_cast<uint32_t>(width));
    put32le(d, 22, static_cast<uint32_t>(height));
    d[26] = 1;
    d[28] = static_cast<uint8_t>(bits);
    put32le(d, 30, compression);
    put32le(d, 34, sizeImage);
    put32le(d, 46, colours);
    for (uint32_t k = 0; k < colours; ++k)
        d[54 + 4 * k] = d[55 + 4 * k] = d[56 + 4 * k] = static_cast<uint8_t>(k);
    return d;
}

// 30000 x 20000 pixels (1.8 GB) claimed by 102 bytes.
std::vector<uint8_t> bmpWithLyingSizes() { return bmpFile(30000, 20000, 0, 24, 0, 0, 48); }

// Run lengths for 20000 x 20000 pixels: enough to be believed (2 MB of runs), yet the file
// holds 64 bytes of them.
std::vector<uint8_t> bmpWithLyingRunLengths() { return bmpFile(20000, 20000, 1, 8, 2u << 20, 256, 64); }

// Records whose numbers are the keywords of other records: the first pass, which sizes the
// lists, counts 200000 vertices and 150000 faces where 50000 vertices and 50000 normals are
// read. The mesh holds the others as defaults.
std::vector<uint8_t> objWithLyingCounts()
{
    std::vector<uint8_t> d;
    append(d, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    for (int i = 0; i < 50000; ++i)
        append(d, "v f f f\nvn v v v\n");
    return d;
}

// 50000 triangles around one vertex, without normals, each within a few degrees of the next:
// every one of its corners at the centre is averaged from all of them.
std::vector<uint8_t> objFan()
{
    const int triangles = 50000;
    std::vector<uint8_t> d;
    append(d, "v 0 0 0\n");
    char line[100];
    for (int i = 0; i <= triangles; ++i) {
        double a = 2 * M_PI * i / (triangles + 1);
        std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", std::cos(a), std::sin(a), 0.1 * std::sin(3 * a));
        append(d, line);
    }
    for (int i = 0; i < triangles; ++i)
        append(d, "f 1 " + std::to_string(i + 2) + " " + std::to_string(i + 3) + "\n");
    return d;
}

// Two MB of bare "f" lines: a million faces counted, none read.
std::vector<uint8_t> objBareFaces()
{
    std::vector<uint8_t> d;
    append(d, "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    for (int i = 0; i < 1000000; ++i)
        append(d, "f\n");
    return d;
}

// One face of 60000 corners folded like a star, which ear clipping would take cubic time over.
std::vector<uint8_t> objLongFaces()
{
    std::vector<uint8_t> d;
    const int n = 60000;
    char line[100];
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n, r = i % 2 ? 1.0 : 0.5;
        std::snprintf(line, sizeof line, "v %.6f %.6f 0\n", r * std::cos(a), r * std::sin(a));
        append(d, line);
    }
    append(d, "f");
    for (int i = 1; i <= n; ++i)
        append(d, " " + std::to_string(i));
    append(d, "\n");
    return d;
}

// One face of a million corners, too long to split.
std::vector<uint8_t> objLongFace()
{
    std::vector<uint8_t> d;
    append(d, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf");
    for (int i = 0; i < 1000000; ++i)
        append(d, i % 3 ? " 2" : " 1");
    append(d, "\n");
    return d;
}

// A progressive JPEG of 2048 x 2048 smooth pixels (4:4:4) whose scans each send one
// coefficient of one component: 127 scans, every one a pass over a third of the picture's
// blocks, in a few bytes each.
const int scanHeavySide = 2048;

std::vector<uint8_t> jpegWithManyScans()
{
    std::vector<jpeg_scan_info> scans(1);
    scans[0].comps_in_scan = 3;
    for (int k = 0; k < 3; ++k)
        scans[0].component_index[k] = k;
    for (int component = 0; component < 2; ++component)
        for (int k = 1; k <= 63; ++k) {
            jpeg_scan_info s{};
            s.comps_in_scan = 1;
            s.component_index[0] = component;
            s.Ss = s.Se = k;
            scans.push_back(s);
        }
    return encodeJpeg(
        scanHeavySide, scanHeavySide, 3, JCS_RGB,
        [&](jpeg_compress_struct& c) {
            jpeg_set_quality(&c, 75, TRUE);
            for (int k = 0; k < 3; ++k)
                c.comp_info[k].h_samp_factor = c.comp_info[k].v_samp_factor = 1;
            c.scan_info = scans.data();
            c.num_scans = static_cast<int>(scans.size());
        },
        [](int x, int y, int k) { return static_cast<uint8_t>((x / 16 + y / 32 + 40 * k) & 255); });
}

struct boundCase {
    const char* what;
    const char* file; // in the temporary folder; its ending picks the reader
    std::vector<uint8_t> (*make)();
    const char* message; // "{}" for the path; none when it must load
    double workingMiB; // what making the output needs besides it (a JPEG's coefficients)
    double outputSeconds; // the CPU time its output explains
};

const boundCase cases[] = {
    {"PNG whose text chunk claims 1.9 GB", "lying_chunk.png", pngWithLyingTextChunk,
     "ERROR: PNG file '{}' could not be read (the file ends too early)!\n", 0, 0},
    {"PNG of 200 million rows, 10 given", "lying_height.png", pngWithLyingHeight,
     "ERROR: PNG file '{}' could not be read (Not enough image data)!\n", 0, 0},
    {"BMP claiming 30000 x 20000 pixels in 102 bytes", "lying_sizes.bmp", bmpWithLyingSizes,
     "ERROR: BMP file '{}' is truncated!\n", 0, 0},
    {"BMP claiming 2 MB of run lengths in 64 bytes", "lying_runs.bmp", bmpWithLyingRunLengths,
     "ERROR: BMP file '{}' is truncated!\n", 0, 0},
    {"OBJ whose keywords count 300000 records it lacks", "lying_counts.obj", objWithLyingCounts, nullptr, 0, 1},
    {"OBJ fan of 50000 triangles around one vertex", "fan.obj", objFan, nullptr, 0, 0},
    {"OBJ of a million bare face lines", "bare_faces.obj", objBareFaces,
     "ERROR: Faces with fewer than three corners skipped!\n", 0, 0},
    {"OBJ face of 1000000 corners", "long_face.obj", objLongFace, "ERROR: Faces of more than 65536 corners skipped!\n",
     0, 0},
    {"OBJ face of 60000 corners folded like a star", "folded_face.obj", objLongFaces, nullptr, 0, 0},
    {"progressive JPEG of 127 one-coefficient scans", "many_scans.jpg", jpegWithManyScans,
     "ERROR: JPEG file '{}' could not be read (scans that go over the picture more than 32 times)!\n",
     scanHeavySide * scanHeavySide * 3 * 2 / MiB, 1},
};

// What the child reports.
struct measured {
    bool made;
    double outputBytes; // of the bitmap or the mesh's lists
    long startKiB, peakKiB;
    double cpuSeconds;
    char text[512];
};

long statusKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, n, key) == 0)
            return std::atol(line.c_str() + n);
    return -1;
}

double meshBytes(const object& obj)
{
    return static_cast<double>(obj.vertices.size() + obj.uvs.size() + obj.normals.size()) * sizeof(vector) +
           static_cast<double>(obj.polygons.size()) * sizeof(polygon);
}

measured readInChild(const std::string& path, bool mesh)
{
    measured m{};
    // The peak so far is the parent's; from here on it is this reading's.
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    m.startKiB = statusKiB("VmRSS:");
    std::string text;
    {
        consoleCapture capture;
        if (mesh) {
            std::unique_ptr<object> obj = loadObject(path, 4, 4);
            m.made = obj != nullptr;
            m.outputBytes = obj ? meshBytes(*obj) : 0;
        } else {
            std::unique_ptr<bitmap> b = readImage(path);
            m.made = b != nullptr;
            m.outputBytes = b ? static_cast<double>(b->byteCount()) : 0;
        }
        text = capture.text();
    }
    m.peakKiB = std::max(statusKiB("VmHWM:"), statusKiB("VmRSS:"));
    rusage self;
    getrusage(RUSAGE_SELF, &self);
    m.cpuSeconds = self.ru_utime.tv_sec + self.ru_stime.tv_sec + (self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
    std::snprintf(m.text, sizeof m.text, "%s", text.c_str());
    return m;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(ReaderBounds, EachHostileFileCostsNoMoreThanItsOutputExplains)
{
    // Sanitizers slow every reader down several times, and keep freed blocks (up to 256 MiB)
    // and a shadow of every used one, so their bounds are wider; unoptimised code is slower.
    const double slower = sanitized ? 10 : optimised ? 1 : 4;
    if (sanitized)
        std::printf("Under AddressSanitizer: memory allowed 1.25 times the output plus 320 MiB, "
                    "time ten times\n");
    for (const boundCase& k : cases) {
        SCOPED_TRACE(k.what);
        const std::vector<uint8_t> bytes = k.make();
        const std::string path = tempPath(k.file);
        writeBytes(path, bytes);
        const bool mesh = std::string(k.file).find(".obj") != std::string::npos;

        int channel[2];
        ASSERT_EQ(pipe(channel), 0);
        std::fflush(nullptr);
        pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            close(channel[0]);
            alarm(300); // a reader that runs away is stopped, and the row fails
            measured m = readInChild(path, mesh);
            ssize_t written = write(channel[1], &m, sizeof m);
            _exit(written == static_cast<ssize_t>(sizeof m) ? 0 : 1);
        }
        close(channel[1]);
        measured m{};
        ssize_t got = read(channel[0], &m, sizeof m);
        close(channel[0]);
        int status = 0;
        waitpid(child, &status, 0);
        std::remove(path.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == static_cast<ssize_t>(sizeof m))
            << "the child " << (WIFSIGNALED(status) ? "was stopped by signal " + std::to_string(WTERMSIG(status)) : "failed");

        if (k.message && mesh) {
            // A mesh goes on without what it could not take.
            EXPECT_TRUE(m.made);
            EXPECT_NE(std::string(m.text).find(k.message), std::string::npos) << m.text;
        } else if (k.message) {
            EXPECT_FALSE(m.made);
            EXPECT_EQ(std::string(m.text), replaceAll(k.message, "{}", path));
        } else {
            EXPECT_TRUE(m.made) << m.text;
            EXPECT_EQ(std::string(m.text).find("ERROR: "), std::string::npos) << m.text;
        }
        const double inputMiB = bytes.size() / MiB;
        const double legitMiB = m.outputBytes / MiB + k.workingMiB;
        const double usedMiB = (m.peakKiB - m.startKiB) / 1024.0;
        const double allowedMiB = sanitized ? 1.25 * legitMiB + 320 : legitMiB + 64;
        const double allowedSeconds = slower * (2 + inputMiB + k.outputSeconds);
        std::printf("  %-50s %8.2f MB in, %8.1f MiB out: %8.1f MiB used (%.0f allowed), %6.2f s CPU (%.0f allowed)\n",
                    k.what, bytes.size() / 1e6, legitMiB, usedMiB, allowedMiB, m.cpuSeconds, allowedSeconds);
        EXPECT_LE(usedMiB, allowedMiB);
        EXPECT_LE(m.cpuSeconds, allowedSeconds);
    }
}
