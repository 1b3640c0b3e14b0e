/* The floor the console is measured against: the same lines read with plain
   stdio and the same bytes written, flushed only when the next read may
   block; no command table, no library, no settings files. It answers the
   benchmark's commands as the console does with the stand-in library, for
   the device "bench-device", and knows nothing else. */
#ifdef _WIN32
/* The C runtime's own printf: mingw-w64's replacement writes each call
   through at once. */
#define __USE_MINGW_ANSI_STDIO 0
#else
#define _GNU_SOURCE /* fopencookie */
#endif
#include <limits.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#define SEPARATOR "\\"

/* Standard input through a buffer of its own (the C runtime has no hook
   before a read), with standard output flushed right before each read of the
   descriptor: the moment the console may wait for input. */
static char input_buffer[4096];
static int input_start;
static int input_end;

/* One line without its break, as fgets cuts it; 0 at the end of input. */
static int ReadLine(char* line, int capacity) {
    int length = 0;
    while (length < capacity - 1) {
        if (input_start == input_end) {
            fflush(stdout);
            const int got = _read(0, input_buffer, sizeof input_buffer);
            if (got <= 0) {
                break;
            }
            input_start = 0;
            input_end = got;
        }
        line[length] = input_buffer[input_start++];
        if (line[length++] == '\n') {
            break;
        }
    }
    if (length == 0) {
        return 0;
    }
    line[length] = '\0';
    line[strcspn(line, "\r\n")] = '\0';
    return 1;
}

/* Untranslated bytes both ways, and the program's folder. */
static int Setup(char* folder, int capacity) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    const DWORD length = GetModuleFileNameA(NULL, folder, (DWORD)capacity);
    if (length > 0 && length < (DWORD)capacity) {
        *strrchr(folder, '\\') = '\0';
    }
    return 1;
}
#else
#include <unistd.h>

#define SEPARATOR "/"

/* Standard input through stdio, with standard output flushed right before
   each read of the descriptor: the moment the console may wait for input. */
static ssize_t ReadAfterFlush(void* cookie, char* buffer, size_t size) {
    (void)cookie;
    fflush(stdout);
    return read(STDIN_FILENO, buffer, size);
}

static FILE* input;

/* One line without its break; 0 at the end of input. */
static int ReadLine(char* line, int capacity) {
    if (fgets(line, capacity, input) == NULL) {
        return 0;
    }
    line[strcspn(line, "\r\n")] = '\0';
    return 1;
}

static int Setup(char* folder, int capacity) {
    static const cookie_io_functions_t kInput = {ReadAfterFlush, NULL, NULL, NULL};
    input = fopencookie(NULL, "r", kInput);
    if (input == NULL) {
        return 0;
    }
    if (readlink("/proc/self/exe", folder, (size_t)capacity - 1) > 0) {
        *strrchr(folder, '/') = '\0';
    }
    return 1;
}
#endif

static int Prompt(const char* prompt, char* field, int capacity) {
    fputs(prompt, stdout);
    return ReadLine(field, capacity);
}

/* The one connection the benchmark's scripts hold at a time. */
struct Connection {
    char peer_id[128];
    char type[32];
    char encrypt[32];
    char listen_addr[64];
    char client_addr[64];
};

static int PromptConnection(struct Connection* c) {
    return Prompt("peer id: ", c->peer_id, sizeof c->peer_id) &&
           Prompt("type: ", c->type, sizeof c->type) &&
           Prompt("encrypt: ", c->encrypt, sizeof c->encrypt) &&
           Prompt("listen addr: ", c->listen_addr, sizeof c->listen_addr) &&
           Prompt("client addr: ", c->client_addr, sizeof c->client_addr);
}

static const char kCommandList[] =
    "  quit\r\n  versionget\r\n  statusget\r\n  domainget\r\n  domainset\r\n  commentget\r\n"
    "  commentset\r\n  tunnelset\r\n  peerinfoget\r\n  connectadd\r\n  connectdelete\r\n"
    "  connectquery\r\n  connectlocaldelete\r\n  connectlocalquery\r\n  userextend\r\n"
    "  pushget\r\n  selfget\r\n  connectenum\r\n";

int main(void) {
    char program[PATH_MAX] = "";
    if (!Setup(program, sizeof program)) {
        return 1;
    }
    /* Whatever standard output is (a terminal, a console, the null device),
       it is written only when full or before a read, as the console does,
       through the 4 KiB buffer both C runtimes give a file. */
    static char output_buffer[4096];
    setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    printf("(DevID){bench-device}(Home){%s" SEPARATOR
           "Home}(LogLevel){2}\r\n"
           "tunnel started: bench-device\r\n",
           program);

    static struct Connection connection;
    int connections = 0;
    char line[256];
    char index[64];
    for (;;) {
        fputs("\r\n> ", stdout);
        if (!ReadLine(line, sizeof line) || strcmp(line, "quit") == 0) {
            break;
        }
        if (strcmp(line, "versionget") == 0) {
            fputs("Version: 1.0.0-sim\r\n", stdout);
        } else if (strcmp(line, "statusget") == 0) {
            printf("Status: %u\r\n", 1u | (unsigned)connections << 8);
        } else if (strcmp(line, "connectadd") == 0) {
            if (!PromptConnection(&connection)) {
                break;
            }
            connections = 1;
            printf("The connect's local client addr: %s\r\n", connection.client_addr);
        } else if (strcmp(line, "connectenum") == 0) {
            if (!Prompt("index: ", index, sizeof index)) {
                break;
            }
            printf(
                "Connect enum success\r\npeer id: %s\r\ntype: %s\r\nencrypt: %s\r\n"
                "listen addr: %s\r\nclient addr: %s\r\n",
                connection.peer_id, connection.type, connection.encrypt, connection.listen_addr,
                connection.client_addr);
        } else if (strcmp(line, "connectdelete") == 0) {
            if (!PromptConnection(&connection)) {
                break;
            }
            connections = 0;
            fputs("Delete connect success\r\n", stdout);
        } else {
            fputs(kCommandList, stdout);
        }
    }
    fflush(stdout);
    return 0;
}
