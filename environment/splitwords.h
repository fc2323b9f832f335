// Splitting of tool output lines into words.
#pragma once

/// Cuts line into words in place: blanks, tabs and line feeds (a CR LF is taken as one) separate
/// words outside braces; a braced field is one word that keeps its opening brace and loses its
/// closing one ("{a b}" gives "{a b", "{}" gives "{"); a brace right after a backslash is an
/// ordinary byte. The line's end, LF or CR LF (or a CR alone, where the LF was taken off), never
/// reaches a word, inside braces too; a CR elsewhere is an ordinary byte. Two-byte
/// characters follow g_language_id, so a trail byte never separates or nests. A '}' without a
/// matching '{' is taken like a brace at depth 0 and leaves the depth at 0, so the separators
/// after it still separate.
///
/// Stores up to capacity pointers into line in words and returns the number of words found,
/// which may exceed capacity; 0 for a line of separators only; -1 for an absent or empty line.
/// A terminator is written into line after each word, so the words live as long as line. Each
/// call consumes its whole line and keeps nothing of it: a call without a line finds nothing.
int svlib_SplitWords(char* line, char** words, int capacity);
