/* Counts heap allocations when preloaded (LD_PRELOAD): all of them, and those
   asked for directly by the program's own code, i.e. from the executable
   itself rather than from the C or C++ runtime or the tunnel library. At exit
   it appends "<all> <own>\n" to the file named by ALLOC_COUNT_FILE. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <link.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static unsigned long all_allocations;
static unsigned long own_allocations;
static uintptr_t program_start = UINTPTR_MAX;
static uintptr_t program_end;

/* The executable is the first object listed, the one without a name. */
static int NoteProgram(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size;
    (void)data;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)* segment = &info->dlpi_phdr[i];
        if (segment->p_type == PT_LOAD && (segment->p_flags & PF_X) != 0) {
            const uintptr_t start = info->dlpi_addr + segment->p_vaddr;
            if (start < program_start) {
                program_start = start;
            }
            if (start + segment->p_memsz > program_end) {
                program_end = start + segment->p_memsz;
            }
        }
    }
    return 1;
}

__attribute__((constructor)) static void Start(void) {
    dl_iterate_phdr(NoteProgram, NULL);
}

static void Count(const void* caller) {
    ++all_allocations;
    if ((uintptr_t)caller >= program_start && (uintptr_t)caller < program_end) {
        ++own_allocations;
    }
}

__attribute__((destructor)) static void Report(void) {
    const char* path = getenv("ALLOC_COUNT_FILE");
    if (path == NULL) {
        return;
    }
    char line[64];
    const int length = snprintf(line, sizeof line, "%lu %lu\n", all_allocations, own_allocations);
    const int file = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (file >= 0) {
        if (write(file, line, (size_t)length) < 0) {
            perror("alloc_count");
        }
        close(file);
    }
}

#define CALLER __builtin_return_address(0)

void* malloc(size_t size) {
    Count(CALLER);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Count(CALLER);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    Count(CALLER);
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
    Count(CALLER);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count(CALLER);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** pointer, size_t alignment, size_t size) {
    Count(CALLER);
    *pointer = __libc_memalign(alignment, size);
    return *pointer == NULL ? 12 /* ENOMEM */ : 0;
}

/* C++ allocations, so that a `new` in the program counts as its own rather
   than as the C++ runtime's call of malloc. */
static void* New(size_t size, const void* caller) {
    Count(caller);
    void* pointer = __libc_malloc(size == 0 ? 1 : size);
    if (pointer == NULL) {
        abort();
    }
    return pointer;
}

void* _Znwm(size_t size) {
    return New(size, CALLER);
}
void* _Znam(size_t size) {
    return New(size, CALLER);
}
void* _ZnwmRKSt9nothrow_t(size_t size, const void* tag) {
    (void)tag;
    return New(size, CALLER);
}
void* _ZnamRKSt9nothrow_t(size_t size, const void* tag) {
    (void)tag;
    return New(size, CALLER);
}
