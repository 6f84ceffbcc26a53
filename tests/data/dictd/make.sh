#!/bin/sh
# Regenerates the test dictionaries in this folder from the entries below:
#   varek-test          dictzip'ed and long enough for three chunks, with one entry that
#                       crosses a chunk border, one in the last chunk, and a headword of
#                       three senses that the sorted index lists in another order than
#                       the body (ties are sorted by the text of the offset digits)
#   varek-zusatz-gzip   a gzip file without dictzip's chunk table
#   varek-zusatz-plain  uncompressed
# Index lines are "headword TAB offset TAB length", numbers in dictd's base64 digits.
# Needs awk, gzip and dictzip:  sh tests/data/dictd/make.sh
set -eu
cd "$(dirname "$0")"
export LC_ALL=C
# Uncompressed bytes per dictzip chunk (dictzip's fixed default).
chunk=58315

# Reads entries from stdin and writes NAME.dict and NAME.index. "@ HEADWORD" starts an
# entry whose text is the following lines; "@filler-until N" adds filler entries (165
# bytes each) until the next entry starts past offset N; "@crosses" asserts that the entry before it spans
# a chunk border.
build() {
  rm -f "$1.dict" "$1.index" "$1.dict.dz"
  awk -v dict="$1.dict" -v idx="$1.index" -v chunk="$chunk" '
    function b64(n,   digits, s) {
      digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
      if (n == 0) return "A"
      for (s = ""; n > 0; n = int(n / 64)) s = substr(digits, n % 64 + 1, 1) s
      return s
    }
    function finish() {
      if (headword == "") return
      printf "%s", text > dict
      printf "%s\t%s\t%s\n", headword, b64(offset), b64(length(text)) > idx
      last = offset; offset += length(text); headword = ""; text = ""
    }
    /^@ / { finish(); headword = substr($0, 3); next }
    /^@filler-until / {
      finish()
      while (offset <= $2) {
        filler++
        headword = sprintf("fuellwort%04d", filler)
        text = sprintf("Füllwort %04d\n   filler entry %04d of the Varek test dictionary,\n" \
          "   there only to make the file long enough for several\n" \
          "   chunks; it compresses to almost nothing.\n", filler, filler)
        finish()
      }
      next
    }
    /^@crosses$/ {
      finish()
      if (int(last / chunk) == int((offset - 1) / chunk)) { print "no chunk border crossed" > "/dev/stderr"; exit 1 }
      next
    }
    { text = text $0 "\n" }
    END { finish() }
  '
  sort -t "$(printf '\t')" -k1,1 -o "$1.index" "$1.index"
}

build varek-test <<ENTRIES
@ 00databaseshort
   Varek-Testwörterbuch Deutsch-Englisch
@ 00databaseurl
   https://example.invalid/varek-test
@ 00-database-info
   A handful of German headwords with English translations, for tests.
@ haus
Haus /haʊs/ <n>
   house; home
@ baum
Baum /baʊm/ <m>
   tree
@ brücke
Brücke /ˈbʁʏkə/ <f>
   bridge
@ Zug
Zug /tsuːk/ <m>
   train; draught; move (in a game)
@ schnee
Schnee /ʃneː/ <m>
   1. snow
   2. beaten egg white
@filler-until 3400
@ haus
Haus <n>
   [adm.] establishment, institution
@filler-until $((chunk - 200))
@ regenschirm
Regenschirm /ˈʁeːɡn̩ʃɪʁm/ <m>
   umbrella
   einen Regenschirm aufspannen: to put up an umbrella
   den Regenschirm zuklappen: to fold the umbrella
   unter einen Regenschirm passen: to fit under one umbrella
@crosses
@filler-until $((2 * chunk + 1000))
@ zwiebel
Zwiebel /ˈtsviːbl̩/ <f>
   onion
@ haus
Haus <n>
   household
ENTRIES
dictzip varek-test.dict

build varek-zusatz-gzip <<ENTRIES
@ haus
Haus <n>
   building (only varek-test, which sorts first, may answer)
@ tee
Tee <m>
   tea (from the gzip dictionary)
@ kaffee
Kaffee <m>
   coffee
ENTRIES
gzip -9 -n varek-zusatz-gzip.dict
mv varek-zusatz-gzip.dict.gz varek-zusatz-gzip.dict.dz

build varek-zusatz-plain <<ENTRIES
@ tee
Tee <m>
   tea (from the plain dictionary)
@ milch
Milch <f>
   milk
ENTRIES
