#!/usr/bin/env bash
# Checks that every message the manual's DIAGNOSTICS section quotes is one
# that the test suite produces: each quoted text must appear in a test's
# expectations (src/*/*_test.cc, literals joined across lines) or in a
# README session, which check_readme.sh runs.
# Quoted texts are the bold parts of the message forms (the tag of each .TP)
# and every bold text in double quotes (.B "..." and the like); placeholders
# are in italics and texts of the system (strerror's) are left unquoted.
#   scripts/check_manual.sh MANUAL README TEST_SOURCE...
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 MANUAL README TEST_SOURCE..." >&2
  exit 2
fi
exec perl -e '
use strict;
use warnings;
my ($manual, @corpusFiles) = @ARGV;
my $corpus = "";
for my $file (@corpusFiles) {
  open(my $in, "<", $file) or die "$file: $!\n";
  local $/;
  my $text = <$in>;
  if ($file =~ /\.cc$/) {
    $text =~ s/"\s*\n\s*(?:u8?)?"//g;  # adjacent literals are one string
    $text =~ s/\\"/"/g;
    $text =~ s/\\\\/\\/g;
  }
  $corpus .= $text . "\n";
}
sub unescape {
  my ($text) = @_;
  $text =~ s/\\-/-/g;
  $text =~ s/\\\(aq/\x27/g;
  $text =~ s/\\\(dq/"/g;
  $text =~ s/\\e/\\/g;
  $text =~ s/\\&//g;
  return $text;
}
open(my $in, "<", $manual) or die "$manual: $!\n";
my ($inSection, $afterTp, $checked, $missing) = (0, 0, 0, 0);
while (my $line = <$in>) {
  chomp $line;
  if ($line =~ /^\.SH\s+(.*)/) { $inSection = $1 eq "DIAGNOSTICS"; next; }
  next unless $inSection;
  if ($line =~ /^\.TP/) { $afterTp = 1; next; }
  my $tag = $afterTp;
  $afterTp = 0 unless $line =~ /^\.PD/;
  next unless $line =~ /^\.(B|BR|RB|BI|IB)\s+(.*)$/;
  my ($macro, $rest) = ($1, $2);
  my @arguments;
  while ($rest =~ /\G\s*(?:"((?:[^"]|"")*)"|(\S+))/gc) {
    push @arguments, defined $1 ? [$1, 1] : [$2, 0];
  }
  my @bold;
  if ($macro eq "B") {
    my $quoted = @arguments == 1 && $arguments[0][1];
    push @bold, [join(" ", map { $_->[0] } @arguments), $quoted];
  } else {
    my $first = ($macro eq "BR" || $macro eq "BI") ? 0 : 1;
    for (my $i = $first; $i < @arguments; $i += 2) { push @bold, $arguments[$i]; }
  }
  for my $part (@bold) {
    my ($text, $quoted) = @$part;
    next unless $tag || $quoted;
    $text = unescape($text);
    (my $trimmed = $text) =~ s/^\s+|\s+$//g;
    next if length($trimmed) < 4;
    ++$checked;
    next if index($corpus, $text) >= 0;
    print "the manual quotes a message no test produces: $text\n";
    ++$missing;
  }
}
die "no quoted message found in DIAGNOSTICS\n" if $checked == 0;
print "$checked quoted texts, $missing not produced by any test\n";
exit($missing == 0 ? 0 : 1);
' "$@"
