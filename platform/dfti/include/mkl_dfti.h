/*
 * FFT descriptor interface (DFTI): the published names, types, values and
 * status codes of Intel MKL's mkl_dfti.h, implemented in this folder on top
 * of FFTW3. Callers write the same code they would write against MKL.
 *
 * Life cycle of a descriptor:
 *
 *   DftiCreateDescriptor -> DftiSetValue* -> DftiCommitDescriptor
 *     -> DftiComputeForward / DftiComputeBackward (any number of times)
 *     -> DftiFreeDescriptor
 *
 * Compute calls on a committed descriptor may run in several threads at once
 * (each on its own data); DftiSetValue, DftiCommitDescriptor and
 * DftiFreeDescriptor must not overlap any other call on the same descriptor.
 *
 * Every function returns a status: 0 (DFTI_NO_ERROR) on success, otherwise a
 * code whose DftiErrorMessage text says what is wrong and whose
 * DftiErrorClass is one of the error classes below. A failed call writes
 * nothing into the caller's data.
 */
#ifndef LUMADEX_MKL_DFTI_H
#define LUMADEX_MKL_DFTI_H

#ifdef __cplusplus
extern "C" {
#endif

/* MKL's integer type of the DFTI interface: 64 bits on this platform. */
#ifndef MKL_LONG
#define MKL_LONG long
#endif

/* Error classes. A status is in one class; DftiErrorClass tells which. */
#define DFTI_NO_ERROR                   0
#define DFTI_MEMORY_ERROR               1
#define DFTI_INVALID_CONFIGURATION      2
#define DFTI_INCONSISTENT_CONFIGURATION 3
#define DFTI_MULTITHREADED_ERROR        4
#define DFTI_BAD_DESCRIPTOR             5
#define DFTI_UNIMPLEMENTED              6
#define DFTI_MKL_INTERNAL_ERROR         7
#define DFTI_NUMBER_OF_THREADS_ERROR    8
#define DFTI_1D_LENGTH_EXCEEDS_INT32    9

#define DFTI_MAX_MESSAGE_LENGTH 80  /* longest DftiErrorMessage text, with its terminator */
#define DFTI_MAX_NAME_LENGTH 10
#define DFTI_VERSION_LENGTH 198     /* buffer size for DftiGetValue(DFTI_VERSION) */

/* Configuration parameters [default in brackets]. */
enum DFTI_CONFIG_PARAM {
    DFTI_FORWARD_DOMAIN = 0,          /* DFTI_COMPLEX or DFTI_REAL, set at creation */
    DFTI_DIMENSION = 1,               /* rank, set at creation */
    DFTI_LENGTHS = 2,                 /* lengths, set at creation */
    DFTI_PRECISION = 3,               /* DFTI_SINGLE or DFTI_DOUBLE, set at creation */
    DFTI_FORWARD_SCALE = 4,           /* [1.0] */
    DFTI_BACKWARD_SCALE = 5,          /* [1.0] */
    DFTI_NUMBER_OF_TRANSFORMS = 7,    /* [1] */
    DFTI_COMPLEX_STORAGE = 8,         /* [DFTI_COMPLEX_COMPLEX] */
    DFTI_REAL_STORAGE = 9,            /* [DFTI_REAL_REAL] */
    DFTI_CONJUGATE_EVEN_STORAGE = 10, /* [DFTI_COMPLEX_COMPLEX] */
    DFTI_PLACEMENT = 11,              /* [DFTI_INPLACE] */
    DFTI_INPUT_STRIDES = 12,          /* [tight, row-major] */
    DFTI_OUTPUT_STRIDES = 13,         /* [tight, row-major] */
    DFTI_INPUT_DISTANCE = 14,         /* [0] */
    DFTI_OUTPUT_DISTANCE = 15,        /* [0] */
    DFTI_WORKSPACE = 17,
    DFTI_ORDERING = 18,
    DFTI_TRANSPOSE = 19,
    DFTI_DESCRIPTOR_NAME = 20,
    DFTI_PACKED_FORMAT = 21,          /* [DFTI_CCE_FORMAT] */
    DFTI_COMMIT_STATUS = 22,          /* read only */
    DFTI_VERSION = 23,                /* read only */
    DFTI_NUMBER_OF_USER_THREADS = 26,
    DFTI_THREAD_LIMIT = 27,
    DFTI_DESTROY_INPUT = 28,
    DFTI_FWD_DISTANCE = 58,
    DFTI_BWD_DISTANCE = 59
};

/* Named configuration values. */
enum DFTI_CONFIG_VALUE {
    DFTI_COMMITTED = 30,
    DFTI_UNCOMMITTED = 31,
    DFTI_COMPLEX = 32,
    DFTI_REAL = 33,
    DFTI_SINGLE = 35,
    DFTI_DOUBLE = 36,
    DFTI_COMPLEX_COMPLEX = 39,
    DFTI_COMPLEX_REAL = 40,
    DFTI_REAL_COMPLEX = 41,
    DFTI_REAL_REAL = 42,
    DFTI_INPLACE = 43,
    DFTI_NOT_INPLACE = 44,
    DFTI_ORDERED = 48,
    DFTI_BACKWARD_SCRAMBLED = 49,
    DFTI_ALLOW = 51,
    DFTI_AVOID = 52,
    DFTI_NONE = 53,
    DFTI_CCS_FORMAT = 54,
    DFTI_PACK_FORMAT = 55,
    DFTI_PERM_FORMAT = 56,
    DFTI_CCE_FORMAT = 57
};

typedef struct DFTI_DESCRIPTOR *DFTI_DESCRIPTOR_HANDLE;
typedef struct DFTI_DESCRIPTOR DFTI_DESCRIPTOR;

/* Creates an uncommitted descriptor. For dimension 1 the variadic argument is
   the length (MKL_LONG); for dimension 2 to 7 it is a pointer to the lengths
   (MKL_LONG[dimension], slowest dimension first). On failure *handle is NULL. */
MKL_LONG DftiCreateDescriptor(DFTI_DESCRIPTOR_HANDLE *handle,
                              enum DFTI_CONFIG_VALUE precision,
                              enum DFTI_CONFIG_VALUE domain,
                              MKL_LONG dimension, ...);

/* Sets one parameter; the descriptor must be committed again afterwards.
   Value types: scales a floating-point number (a float passed through the
   variadic list arrives as double, so float and double are both accepted);
   named values an enum DFTI_CONFIG_VALUE; counts and distances MKL_LONG;
   strides a pointer to MKL_LONG[dimension + 1] = {offset, s1, ..., s_dim}. */
MKL_LONG DftiSetValue(DFTI_DESCRIPTOR_HANDLE handle, enum DFTI_CONFIG_PARAM param, ...);

/* Reads one parameter through a pointer of the parameter's type (scales: a
   float* for DFTI_SINGLE, a double* for DFTI_DOUBLE; DFTI_VERSION: a char
   buffer of DFTI_VERSION_LENGTH). */
MKL_LONG DftiGetValue(DFTI_DESCRIPTOR_HANDLE handle, enum DFTI_CONFIG_PARAM param, ...);

/* Checks the configuration and fixes the thread count of later computations
   (omp_get_max_threads() of the committing thread). */
MKL_LONG DftiCommitDescriptor(DFTI_DESCRIPTOR_HANDLE handle);

/* Forward transform (exponent sign -1) scaled by DFTI_FORWARD_SCALE. One data
   pointer for DFTI_INPLACE, input then output pointer for DFTI_NOT_INPLACE. */
MKL_LONG DftiComputeForward(DFTI_DESCRIPTOR_HANDLE handle, void *in, ...);

/* Backward transform (exponent sign +1) scaled by DFTI_BACKWARD_SCALE. */
MKL_LONG DftiComputeBackward(DFTI_DESCRIPTOR_HANDLE handle, void *in, ...);

/* Frees the descriptor and sets *handle to NULL. */
MKL_LONG DftiFreeDescriptor(DFTI_DESCRIPTOR_HANDLE *handle);

/* Static text describing a status (never NULL, at most DFTI_MAX_MESSAGE_LENGTH
   characters with the terminator). */
char *DftiErrorMessage(MKL_LONG status);

/* Nonzero when status belongs to error_class (one of the classes above). */
MKL_LONG DftiErrorClass(MKL_LONG status, MKL_LONG error_class);

#ifdef __cplusplus
}
#endif

#endif /* LUMADEX_MKL_DFTI_H */
