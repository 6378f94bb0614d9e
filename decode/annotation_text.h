#pragma once

#include "annotation_store.h"
#include "decoder_setup.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Which annotations are shown: for each decoder named, the classes chosen
// (every class where none is named).
struct AnnotationChoice {
    struct Shown {
        std::string decoder;      // its id
        std::vector<int> classes; // empty: all
    };
    std::vector<Shown> shown;

    bool shows(const DecoderInfo& decoder, int annotationClass) const;
};

// What sigrok-cli shows where it is not told: every annotation of the top
// decoder of each stack.
AnnotationChoice TopDecodersChoice(const std::vector<DecoderStack>& stacks);

// Reads a choice as sigrok-cli's -A takes it: "uart=rx-data:tx-data,i2c"
// (a decoder's id, then classes or rows of it); each decoder must be in one
// of the stacks. On a fault, the message that says what there is.
std::variant<AnnotationChoice, std::string> ReadAnnotationChoice(std::string_view text,
                                                                 const std::vector<DecoderStack>& stacks);

// "uart-1: 56": an annotation as sigrok-cli prints it, its longest text after
// the decoder instance's name.
std::string SigrokAnnotationLine(const std::string& instance, const Annotation& annotation);

// "12701822,13535156,uart-1,rx-data,rx-data,56": an annotation as a row of
// CSV under CsvAnnotationHeader, its longest text quoted where CSV asks for it.
extern const char* const CsvAnnotationHeader;
std::string CsvAnnotationLine(const std::string& instance, const DecoderInfo& decoder, const Annotation& annotation);

// {"annotation":{"decoder":"uart-1","row":"rx-data","class":"rx-data","from_ns":..,"to_ns":..,"texts":[..]}}
std::string JsonAnnotationLine(const std::string& instance, const DecoderInfo& decoder, const Annotation& annotation);
