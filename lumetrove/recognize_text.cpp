// The text-recognition helper: the only program of Lumetrove that links the recognition engine. The program
// starts it with the argument and speaks to it over its standard input and output (TextRecognizer.h).

#include "lumetrove/platform/TextRecognizer.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], lumetrove::textRecognitionHelperArgument) != 0) {
        std::fprintf(stderr, "%s: the text-recognition helper of Lumetrove, which starts it itself\n", argv[0]);
        return 2;
    }
    return lumetrove::runTextRecognitionHelper();
}
