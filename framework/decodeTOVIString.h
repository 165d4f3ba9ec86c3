#pragma once

// Cuts a text into blank-separated fields, in which the quote character
// groups blanks into one field; the quote characters themselves never
// appear in a field. Only the blank separates.
//
// Every entry of `fields` points into `buffer` (the object's own copy, cut
// in place) or at one shared constant empty text, so the fields are valid
// while the object lives. Parsing makes exactly one allocation.
class decodeTOVIString {
public:
    static constexpr int kMaxFields = 32;

     // Parses `text` (may be null; not retained) at once, grouping with `quoteChar`.
    decodeTOVIString(const char* text, char quoteChar);
    virtual ~decodeTOVIString();

    decodeTOVIString(const decodeTOVIString&) = delete;
    decodeTOVIString& operator=(const decodeTOVIString&) = delete;

    const char* fields[kMaxFields];
    int fieldCount;  // 0 for a null or empty text, otherwise 1 to 32
    char* buffer;
    char quote;
};
