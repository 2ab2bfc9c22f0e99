#include "nrutil.h"

#include <cstdint>
#include <cstdlib>

namespace {

// One table of row pointers, then one zero-filled block per row. A failed
// request releases what was already obtained, so a null result leaks nothing.
template <typename T> T** alloc_matrix(int NbCol, int NbLig)
{
    if (NbCol <= 0 || NbLig <= 0) return nullptr;
    auto** table = static_cast<T**>(std::calloc(static_cast<std::size_t>(NbLig), sizeof(T*)));
    if (!table) return nullptr;
    for (int i = 0; i < NbLig; ++i) {
        table[i] = static_cast<T*>(std::calloc(static_cast<std::size_t>(NbCol), sizeof(T)));
        if (!table[i]) {
            for (int k = 0; k < i; ++k) std::free(table[k]);
            std::free(table);
            return nullptr;
        }
    }
    return table;
}

// Rows in increasing order, then the table.
template <typename T> void free_matrix(T** Mat, int NbLig)
{
    if (!Mat) return;
    for (int i = 0; i < NbLig; ++i) std::free(Mat[i]);
    std::free(Mat);
}

// One zero-filled block holds every row of a grid, line 0 first, rows side by
// side; the table has one entry more, which keeps the block for the release.
// The rows of a grid of at least kGrid_align bytes start on such a boundary
// of the block, so that the host can back whole stretches of it with large
// pages. Two requests, whatever the number of lines.
template <typename T> T** alloc_grid(int NbCol, int NbLig)
{
    if (NbCol <= 0 || NbLig <= 0) return nullptr;
    const auto cols = static_cast<std::size_t>(NbCol);
    const auto lines = static_cast<std::size_t>(NbLig);
    if (cols > (SIZE_MAX - kGrid_align) / sizeof(T) / lines) return nullptr;
    const std::size_t bytes = cols * lines * sizeof(T);
    const std::size_t slack = bytes >= kGrid_align ? kGrid_align : 0;
    auto** table = static_cast<T**>(std::calloc(lines + 1, sizeof(T*)));
    if (!table) return nullptr;
    auto* block = static_cast<unsigned char*>(std::calloc(bytes + slack, 1));
    if (!block) {
        std::free(table);
        return nullptr;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(block);
    const std::size_t skip = slack ? (kGrid_align - at % kGrid_align) % kGrid_align : 0;
    T* first = reinterpret_cast<T*>(block + skip);
    table[lines] = reinterpret_cast<T*>(block);
    for (std::size_t i = 0; i < lines; ++i) table[i] = first + i * cols;
    return table;
}

template <typename T> void free_grid(T** Mat, int NbLig)
{
    if (!Mat) return;
    std::free(Mat[NbLig]);
    std::free(Mat);
}

template <typename T> T* alloc_vector(int NbCol)
{
    if (NbCol <= 0) return nullptr;
    return static_cast<T*>(std::calloc(static_cast<std::size_t>(NbCol), sizeof(T)));
}

} // namespace

float** fmatrice(int NbCol, int NbLig) { return alloc_matrix<float>(NbCol, NbLig); }
void frfmatrice(float** Mat, int NbLig) { free_matrix(Mat, NbLig); }
unsigned char** ucmatrice(int NbCol, int NbLig)
{
    return alloc_matrix<unsigned char>(NbCol, NbLig);
}
void frucmatrice(unsigned char** Mat, int NbLig) { free_matrix(Mat, NbLig); }
unsigned short** usmatrice(int NbCol, int NbLig)
{
    return alloc_matrix<unsigned short>(NbCol, NbLig);
}
void frusmatrice(unsigned short** Mat, int NbLig) { free_matrix(Mat, NbLig); }
short** smatrice(int NbCol, int NbLig) { return alloc_matrix<short>(NbCol, NbLig); }
void frsmatrice(short** Mat, int NbLig) { free_matrix(Mat, NbLig); }
int** imatrice(int NbCol, int NbLig) { return alloc_matrix<int>(NbCol, NbLig); }
void frimatrice(int** Mat, int NbLig) { free_matrix(Mat, NbLig); }
double** dmatrice(int NbCol, int NbLig) { return alloc_matrix<double>(NbCol, NbLig); }
void frdmatrice(double** Mat, int NbLig) { free_matrix(Mat, NbLig); }
long double** ldmatrice(int NbCol, int NbLig) { return alloc_matrix<long double>(NbCol, NbLig); }
void frldmatrice(long double** Mat, int NbLig) { free_matrix(Mat, NbLig); }

int** igrille(int NbCol, int NbLig) { return alloc_grid<int>(NbCol, NbLig); }
void frigrille(int** Mat, int NbLig) { free_grid(Mat, NbLig); }
unsigned short** usgrille(int NbCol, int NbLig) { return alloc_grid<unsigned short>(NbCol, NbLig); }
void frusgrille(unsigned short** Mat, int NbLig) { free_grid(Mat, NbLig); }

unsigned char* ucvecteur(int NbCol) { return alloc_vector<unsigned char>(NbCol); }
void frucvecteur(unsigned char* Mat) { std::free(Mat); }
unsigned short* usvecteur(int NbCol) { return alloc_vector<unsigned short>(NbCol); }
void frusvecteur(unsigned short* Mat) { std::free(Mat); }
short* svecteur(int NbCol) { return alloc_vector<short>(NbCol); }
void frsvecteur(short* Mat) { std::free(Mat); }
int* ivecteur(int NbCol) { return alloc_vector<int>(NbCol); }
void frivecteur(int* Mat) { std::free(Mat); }
double* dvecteur(int NbCol) { return alloc_vector<double>(NbCol); }
void frdvecteur(double* Mat) { std::free(Mat); }
float* fvecteur(int NbCol) { return alloc_vector<float>(NbCol); }
void frfvecteur(float* Mat) { std::free(Mat); }
