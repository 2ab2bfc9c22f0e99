#include "nrutil.h"

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
