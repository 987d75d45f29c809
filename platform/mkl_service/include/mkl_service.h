// The numeric library's version service, as the plug-in calls it.
//
// The numeric library here is our stand-in layer (FFT descriptors over FFTW,
// BLAS and LAPACK from OpenBLAS, vector math); the version it reports is the
// layer's own, and its text names the libraries underneath with the
// versions they report at run time.
#pragma once

extern "C" {

typedef struct {
    int MajorVersion;
    int MinorVersion;
    int UpdateVersion;
    const char* ProductStatus;
    const char* Build;
    const char* Processor;
    const char* Platform;
} MKLVersion;

// Fills `version`: the layer's major, minor and update numbers and four
// static texts.
void mkl_serv_getversion(MKLVersion* version);

// Copies the version text into `buffer`, truncated to `length` - 1
// characters and terminated (nothing when length < 1).
void mkl_serv_getversionstring_c(char* buffer, int length);

}
