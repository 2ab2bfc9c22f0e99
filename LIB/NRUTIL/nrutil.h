// NRUTIL: zero-filled matrices and vectors of the numeric element types.
//
// A matrix of NbLig lines and NbCol columns is a table of NbLig row pointers,
// each to a separately allocated row of NbCol elements, so Mat[line][column]
// reaches any element. It does not record its size: the caller passes NbLig
// again to release it. Allocators take the columns first and the lines second,
// and return nullptr when any part cannot be obtained or a dimension is not
// positive; nothing is printed and nothing is left allocated on failure.
#pragma once

#include <cstddef>

float** fmatrice(int NbCol, int NbLig);
void frfmatrice(float** Mat, int NbLig);
unsigned char** ucmatrice(int NbCol, int NbLig);
void frucmatrice(unsigned char** Mat, int NbLig);
unsigned short** usmatrice(int NbCol, int NbLig);
void frusmatrice(unsigned short** Mat, int NbLig);
short** smatrice(int NbCol, int NbLig);
void frsmatrice(short** Mat, int NbLig);
int** imatrice(int NbCol, int NbLig);
void frimatrice(int** Mat, int NbLig);
double** dmatrice(int NbCol, int NbLig);
void frdmatrice(double** Mat, int NbLig);
long double** ldmatrice(int NbCol, int NbLig);
void frldmatrice(long double** Mat, int NbLig);

// Grids: the same table and Mat[line][column] access, but every row lies in
// one zero-filled block, line 0 first, each row right after the one before.
// The rows of a grid of at least kGrid_align bytes start on a kGrid_align
// boundary, where a host may back the block with large pages. Released with
// the fr...grille routine of the same type and the same NbLig.
inline constexpr std::size_t kGrid_align = std::size_t{2} << 20;
int** igrille(int NbCol, int NbLig);
void frigrille(int** Mat, int NbLig);
unsigned short** usgrille(int NbCol, int NbLig);
void frusgrille(unsigned short** Mat, int NbLig);

unsigned char* ucvecteur(int NbCol);
void frucvecteur(unsigned char* Mat);
unsigned short* usvecteur(int NbCol);
void frusvecteur(unsigned short* Mat);
short* svecteur(int NbCol);
void frsvecteur(short* Mat);
int* ivecteur(int NbCol);
void frivecteur(int* Mat);
double* dvecteur(int NbCol);
void frdvecteur(double* Mat);
float* fvecteur(int NbCol);
void frfvecteur(float* Mat);
