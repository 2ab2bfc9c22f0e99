#include "nrutil.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

// The test is linked with --wrap=calloc and --wrap=free (on Windows, NRUTIL's calls are
// renamed to the wrappers), so every request NRUTIL makes passes through here while a
// Watch is alive: it is recorded, and one can be refused.
namespace {

struct Probe {
    bool on = false;
    int refuse = -1;
    std::vector<std::pair<std::size_t, std::size_t>> requests;
    std::vector<void*> live, freed;
};
Probe probe;

struct Watch {
    explicit Watch(int refuse = -1)
    {
        probe = Probe{};
        probe.refuse = refuse;
        probe.on = true;
    }
    ~Watch() { probe.on = false; }
};

} // namespace

#ifdef _WIN32
extern "C" void* __real_calloc(std::size_t n, std::size_t size) { return std::calloc(n, size); }
extern "C" void __real_free(void* p) { std::free(p); }
#else
extern "C" void* __real_calloc(std::size_t n, std::size_t size);
extern "C" void __real_free(void* p);
#endif

extern "C" void* __wrap_calloc(std::size_t n, std::size_t size)
{
    if (!probe.on) return __real_calloc(n, size);
    probe.requests.emplace_back(n, size);
    if (static_cast<int>(probe.requests.size()) - 1 == probe.refuse) return nullptr;
    void* p = __real_calloc(n, size);
    if (p) probe.live.push_back(p);
    return p;
}

extern "C" void __wrap_free(void* p)
{
    if (probe.on && p) {
        probe.freed.push_back(p);
        probe.live.erase(std::remove(probe.live.begin(), probe.live.end(), p), probe.live.end());
    }
    __real_free(p);
}

// Under AddressSanitizer a refused huge request must come back as nullptr, not abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using Requests = std::vector<std::pair<std::size_t, std::size_t>>;

template <typename T, T** (*Alloc)(int, int), void (*Release)(T**, int)> struct MatrixKind {
    using Elem = T;
    static T** make(int cols, int lines) { return Alloc(cols, lines); }
    static void drop(T** m, int lines) { Release(m, lines); }
};

template <typename T, T* (*Alloc)(int), void (*Release)(T*)> struct VectorKind {
    using Elem = T;
    static T* make(int n) { return Alloc(n); }
    static void drop(T* v) { Release(v); }
};

using MatrixKinds = ::testing::Types<
    MatrixKind<float, fmatrice, frfmatrice>, MatrixKind<unsigned char, ucmatrice, frucmatrice>,
    MatrixKind<unsigned short, usmatrice, frusmatrice>, MatrixKind<short, smatrice, frsmatrice>,
    MatrixKind<int, imatrice, frimatrice>, MatrixKind<double, dmatrice, frdmatrice>,
    MatrixKind<long double, ldmatrice, frldmatrice>>;

using VectorKinds =
    ::testing::Types<VectorKind<unsigned char, ucvecteur, frucvecteur>,
                     VectorKind<unsigned short, usvecteur, frusvecteur>,
                     VectorKind<short, svecteur, frsvecteur>, VectorKind<int, ivecteur, frivecteur>,
                     VectorKind<double, dvecteur, frdvecteur>,
                     VectorKind<float, fvecteur, frfvecteur>>;

template <typename K> class Matrix : public ::testing::Test {
};
template <typename K> class Vector : public ::testing::Test {
};
TYPED_TEST_SUITE(Matrix, MatrixKinds);
TYPED_TEST_SUITE(Vector, VectorKinds);

struct Shape {
    int cols, lines;
};
const Shape shapes[] = {{1, 1}, {3, 2}, {1, 9}, {9, 1}, {17, 5}};

// One table of row pointers, then one row per line, each of its own element type.
TYPED_TEST(Matrix, ZeroFilledSeparateRowsOfTheAskedShape)
{
    using T = typename TypeParam::Elem;
    for (Shape s : shapes) {
        SCOPED_TRACE(::testing::Message() << s.cols << " x " << s.lines);
        T** m;
        {
            Watch w;
            m = TypeParam::make(s.cols, s.lines);
        }
        ASSERT_NE(m, nullptr);
        Requests want{{s.lines, sizeof(T*)}};
        want.insert(want.end(), s.lines, {s.cols, sizeof(T)});
        EXPECT_EQ(probe.requests, want);
        for (int i = 0; i < s.lines; ++i)
            for (int j = 0; j < s.cols; ++j) EXPECT_EQ(m[i][j], T(0)) << i << "," << j;
        // Rows that overlapped would overwrite each other here.
        for (int i = 0; i < s.lines; ++i)
            for (int j = 0; j < s.cols; ++j) m[i][j] = T(i * s.cols + j + 1);
        for (int i = 0; i < s.lines; ++i)
            for (int j = 0; j < s.cols; ++j) EXPECT_EQ(m[i][j], T(i * s.cols + j + 1));
        TypeParam::drop(m, s.lines);
        // Memory just released and handed out again must still come back zeroed.
        m = TypeParam::make(s.cols, s.lines);
        ASSERT_NE(m, nullptr);
        for (int i = 0; i < s.lines; ++i)
            for (int j = 0; j < s.cols; ++j) EXPECT_EQ(m[i][j], T(0)) << "reused " << i << "," << j;
        TypeParam::drop(m, s.lines);
    }
}

TYPED_TEST(Matrix, ReleaseFreesEveryRowInOrderThenTheTable)
{
    using T = typename TypeParam::Elem;
    T** m = TypeParam::make(3, 4);
    ASSERT_NE(m, nullptr);
    std::vector<void*> want{m[0], m[1], m[2], m[3], m};
    {
        Watch w;
        TypeParam::drop(m, 4);
    }
    EXPECT_EQ(probe.freed, want);
}

TYPED_TEST(Matrix, NonPositiveDimensionGivesNull)
{
    const Shape bad[] = {{0, 1}, {1, 0}, {0, 0}, {-1, 4}, {4, -1}, {INT_MIN, 2}, {2, INT_MIN}};
    for (Shape s : bad) {
        Watch w;
        EXPECT_EQ(TypeParam::make(s.cols, s.lines), nullptr) << s.cols << " x " << s.lines;
        EXPECT_TRUE(probe.live.empty());
    }
}

// Refusing the table (request 0) or any row: nullptr at once, nothing left allocated.
TYPED_TEST(Matrix, RefusedRequestGivesNullAndLeavesNothing)
{
    for (int refuse = 0; refuse <= 4; ++refuse) {
        Watch w(refuse);
        EXPECT_EQ(TypeParam::make(3, 4), nullptr) << "request " << refuse;
        EXPECT_EQ(probe.requests.size(), static_cast<std::size_t>(refuse + 1));
        EXPECT_TRUE(probe.live.empty()) << "request " << refuse;
    }
}

TYPED_TEST(Vector, ZeroFilledBlockOfTheAskedLength)
{
    using T = typename TypeParam::Elem;
    for (int n : {1, 2, 1000}) {
        T* v;
        {
            Watch w;
            v = TypeParam::make(n);
        }
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(probe.requests, (Requests{{n, sizeof(T)}}));
        for (int j = 0; j < n; ++j) EXPECT_EQ(v[j], T(0)) << j;
        for (int j = 0; j < n; ++j) v[j] = T(j + 1);
        {
            Watch w;
            TypeParam::drop(v);
        }
        EXPECT_EQ(probe.freed, std::vector<void*>{v});
        v = TypeParam::make(n);
        ASSERT_NE(v, nullptr);
        for (int j = 0; j < n; ++j) EXPECT_EQ(v[j], T(0)) << "reused " << j;
        TypeParam::drop(v);
    }
}

TYPED_TEST(Vector, NonPositiveLengthGivesNull)
{
    for (int n : {0, -1, INT_MIN}) EXPECT_EQ(TypeParam::make(n), nullptr) << n;
}

TYPED_TEST(Vector, RefusedRequestGivesNull)
{
    Watch w(0);
    EXPECT_EQ(TypeParam::make(8), nullptr);
    EXPECT_TRUE(probe.live.empty());
}

TEST(Imatrice, ThreeColumnsTwoLinesReachesElementOneTwo)
{
    int** m = imatrice(3, 2);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m[1][2], 0);
    m[1][2] = 7;
    EXPECT_EQ(m[0][2], 0);
    EXPECT_EQ(m[1][1], 0);
    frimatrice(m, 2);
}

// The smoothing window shapes: one row of n + 1, or n + 1 rows of one.
TEST(Fmatrice, RowAndColumnWindows)
{
    for (int n : {0, 2, 6}) {
        SCOPED_TRACE(n);
        float** row;
        {
            Watch w;
            row = fmatrice(n + 1, 1);
        }
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(probe.requests, (Requests{{1, sizeof(float*)}, {n + 1, sizeof(float)}}));
        for (int j = 0; j <= n; ++j) EXPECT_EQ(row[0][j], 0.0f);
        frfmatrice(row, 1);

        float** col;
        {
            Watch w;
            col = fmatrice(1, n + 1);
        }
        ASSERT_NE(col, nullptr);
        Requests want{{n + 1, sizeof(float*)}};
        want.insert(want.end(), n + 1, {1, sizeof(float)});
        EXPECT_EQ(probe.requests, want);
        for (int i = 0; i <= n; ++i) EXPECT_EQ(col[i][0], 0.0f);
        frfmatrice(col, n + 1);
    }
}

template <typename T, T** (*Alloc)(int, int), void (*Release)(T**, int)> struct GridKind {
    using Elem = T;
    static T** make(int cols, int lines) { return Alloc(cols, lines); }
    static void drop(T** m, int lines) { Release(m, lines); }
};
template <typename K> class Grid : public ::testing::Test {
};
using GridKinds = ::testing::Types<GridKind<int, igrille, frigrille>,
                                   GridKind<unsigned short, usgrille, frusgrille>>;
TYPED_TEST_SUITE(Grid, GridKinds);

// Two requests whatever the shape: the table, one entry longer, then one block
// that holds every row side by side, zero-filled; a grid of at least
// kGrid_align bytes starts on that boundary. The release frees the block, then
// the table.
TYPED_TEST(Grid, ZeroFilledRowsSideBySideInOneBlock)
{
    using T = typename TypeParam::Elem;
    const Shape grids[] = {{1, 1}, {3, 2}, {1, 9}, {17, 5}, {1024, 1024}, {1023, 2051}};
    for (Shape s : grids) {
        SCOPED_TRACE(::testing::Message() << s.cols << " x " << s.lines);
        const std::size_t bytes = std::size_t(s.cols) * std::size_t(s.lines) * sizeof(T);
        const std::size_t slack = bytes >= kGrid_align ? kGrid_align : 0;
        T** m;
        {
            Watch w;
            m = TypeParam::make(s.cols, s.lines);
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(probe.requests, (Requests{{s.lines + 1, sizeof(T*)}, {bytes + slack, 1}}));
        }
        for (int i = 1; i < s.lines; ++i) EXPECT_EQ(m[i], m[i - 1] + s.cols) << i;
        if (slack) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(m[0]) % kGrid_align, 0u);
        }
        for (int i = 0; i < s.lines; ++i)
            for (int j = 0; j < s.cols; ++j) ASSERT_EQ(m[i][j], T(0)) << i << "," << j;
        {
            Watch w;
            TypeParam::drop(m, s.lines);
            ASSERT_EQ(probe.freed.size(), 2u);
            EXPECT_EQ(probe.freed[1], static_cast<void*>(m));
        }
    }
}

TYPED_TEST(Grid, RefusedOrImpossibleRequestGivesNullAndLeavesNothing)
{
    for (int refuse = 0; refuse <= 1; ++refuse) {
        Watch w(refuse);
        EXPECT_EQ(TypeParam::make(3, 4), nullptr) << "request " << refuse;
        EXPECT_TRUE(probe.live.empty()) << "request " << refuse;
    }
    // Non-positive sides, and a block too large to count in bytes.
    const Shape bad[] = {{0, 1}, {1, 0}, {-1, 4}, {4, INT_MIN}, {INT_MAX, INT_MAX}};
    for (Shape s : bad) {
        Watch w;
        EXPECT_EQ(TypeParam::make(s.cols, s.lines), nullptr) << s.cols << " x " << s.lines;
        EXPECT_TRUE(probe.live.empty());
    }
}

// A row of INT_MAX extended reals is larger than the machine's memory: a real refusal.
TEST(Ldmatrice, HugeColumnCountGivesNullAndLeavesNothing)
{
    Watch w;
    EXPECT_EQ(ldmatrice(INT_MAX, 3), nullptr);
    EXPECT_EQ(probe.requests.size(), 2u);
    EXPECT_TRUE(probe.live.empty());
}

} // namespace
