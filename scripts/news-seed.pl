#!/usr/bin/perl
# Seeds the local test news server that scripts/news-server.sh runs.
#
# Articles are fed to innd as a peer: the connection comes from the second loopback address,
# which incoming.conf lists as a feeding site, and streams them with MODE STREAM and TAKETHIS
# (RFC 4644), many in flight at once. That is far faster than posting them one by one through
# nnrpd, and keeps every header as written here (nothing is added but Path).
#
# The articles come in sets: the hand-written ones under scripts/news-articles/<group>/, the
# generated zk.test.many group, and, with --big, the generated zk.test.big group. A set is fed
# only when one of its groups holds fewer articles than the set puts there, so running this
# twice does not double anything; innd also refuses a Message-ID it has already stored.
#
# Article numbers follow the feeding order: the directories in name order, the files of a
# directory in name order, then the generated sets. tests/support/newsserver.h lists the
# resulting numbers; change both together.
use strict;
use warnings;
use File::Basename qw(dirname);
use Getopt::Long qw(GetOptions);
use IO::Socket::INET;
use POSIX qw(strftime);
use Time::HiRes qw(time);

my $host = '127.0.0.1';
my $port = 119;
my $feed_address = '127.0.0.2';
my $articles_dir = dirname(__FILE__) . '/news-articles';
my $with_big = 0;
GetOptions('host=s' => \$host, 'port=i' => \$port, 'feed-address=s' => \$feed_address,
           'articles=s' => \$articles_dir, 'big' => \$with_big)
    or die "usage: $0 [--big] [--host H] [--port P] [--feed-address A] [--articles DIR]\n";

use constant MANY_COUNT => 750;
use constant BIG_COUNT => 100_000;
# Replies awaited at most before the feeder stops sending; small enough that the replies
# never fill the socket buffers while the feeder is still writing.
use constant WINDOW => 512;
use constant FIRST_DATE => 1704067200;    # Mon, 01 Jan 2024 00:00:00 +0000

my @sets = (hand_written_set($articles_dir), generated_set('zk.test.many', 'many', MANY_COUNT));
push @sets, generated_set('zk.test.big', 'big', BIG_COUNT) if $with_big;

for my $set (@sets) {
    seed($set);
}
exit 0;

# --- the article sets --------------------------------------------------------------------

# The hand-written articles, each file one article with LF line ends.
sub hand_written_set {
    my ($dir) = @_;
    opendir(my $dh, $dir) or die "news-seed: cannot read $dir: $!\n";
    my @groups = sort grep { !/^\./ && -d "$dir/$_" } readdir($dh);
    closedir($dh);
    my @files;
    for my $group (@groups) {
        opendir(my $gh, "$dir/$group") or die "news-seed: cannot read $dir/$group: $!\n";
        push @files, map {"$dir/$group/$_"} sort grep {/\.txt$/} readdir($gh);
        closedir($gh);
    }
    my @articles = map { read_article($_) } @files;
    return { name => 'hand-written articles', count => scalar(@articles),
             expected => expected_counts(map { $_->{groups} } @articles),
             articles => sub { return shift @articles } };
}

sub read_article {
    my ($file) = @_;
    open(my $fh, '<:raw', $file) or die "news-seed: cannot read $file: $!\n";
    local $/;
    my $text = <$fh>;
    close($fh);
    $text =~ s/\r\n/\n/g;
    my ($head) = split(/\n\n/, $text, 2);
    my ($id) = $head =~ /^Message-ID:[ \t]*(<[^>]+>)/mi
        or die "news-seed: $file has no Message-ID\n";
    my ($newsgroups) = $head =~ /^Newsgroups:[ \t]*(\S+)/mi
        or die "news-seed: $file has no Newsgroups\n";
    return { id => $id, groups => [split(/,/, $newsgroups)], text => $text };
}

# Generated groups: threads of five (a start and four replies), six posters, short bodies.
sub generated_set {
    my ($group, $tag, $count) = @_;
    my $next = 1;
    my $article = sub {
        return undef if $next > $count;
        my $n = $next++;
        return { id => "<$tag.$n\@zk.test>", text => generated_article($group, $tag, $n) };
    };
    return { name => $group, count => $count, expected => { $group => $count },
             articles => $article };
}

sub generated_article {
    my ($group, $tag, $n) = @_;
    my @posters = ('Alice Example <alice@zk.test>', 'bob@zk.test (Bob Example)',
                   'Carol Example <carol@zk.test>', 'Dave Example <dave@zk.test>',
                   'erin@zk.test', 'Frank Example <frank@zk.test>');
    my $root = $n - ($n - 1) % 5;
    my $topic = ($root - 1) / 5 + 1;
    my $subject = "Topic $topic in $group";
    my $references = '';
    if ($n != $root) {
        $subject = "Re: $subject";
        $references = "References: " . join(' ', map {"<$tag.$_\@zk.test>"} $root .. $n - 1)
            . "\n";
    }
    my $date = strftime('%a, %d %b %Y %H:%M:%S +0000', gmtime(FIRST_DATE + 60 * $n));
    return "From: $posters[$n % @posters]\n"
        . "Newsgroups: $group\n"
        . "Subject: $subject\n"
        . "Date: $date\n"
        . "Message-ID: <$tag.$n\@zk.test>\n"
        . $references
        . "Content-Type: text/plain; charset=us-ascii\n"
        . "\n"
        . "This is article $n of $group, generated for the reader's tests.\n"
        . "It belongs to topic $topic, which has five articles.\n"
        . "\n"
        . "-- \n"
        . "Generated by scripts/news-seed.pl\n";
}

sub expected_counts {
    my %expected;
    for my $groups (@_) {
        $expected{$_}++ for @$groups;
    }
    return \%expected;
}

# --- feeding -----------------------------------------------------------------------------

sub seed {
    my ($set) = @_;
    my %expected = %{ $set->{expected} };
    my $missing = grep { last_article_number($_) < $expected{$_} } sort keys %expected;
    if (!$missing) {
        print "news-seed: $set->{name} already seeded\n";
        return;
    }
    my $started = time();
    my ($accepted, $duplicates) = feed($set);
    my $seconds = time() - $started;
    printf "news-seed: %s: %d fed, %d already present, in %.1f s (%.0f articles/s)\n",
        $set->{name}, $accepted, $duplicates, $seconds, $set->{count} / ($seconds || 1e-3);
    for my $group (sort keys %expected) {
        my $last = last_article_number($group);
        die "news-seed: $group ends at article $last, expected $expected{$group}\n"
            if $last < $expected{$group};
    }
}

# Streams a set of articles with TAKETHIS and returns (accepted, duplicates).
sub feed {
    my ($set) = @_;
    my $socket = IO::Socket::INET->new(PeerAddr => $host, PeerPort => $port,
                                       LocalAddr => $feed_address, Proto => 'tcp')
        or die "news-seed: cannot connect from $feed_address to $host:$port: $@\n";
    my $connection = { socket => $socket, input => '' };
    my $greeting = read_line($connection);
    die "news-seed: unexpected greeting from the feeding port: $greeting\n"
        unless $greeting =~ /^200 /;
    write_all($connection, "MODE STREAM\r\n");
    my $mode = read_line($connection);
    die "news-seed: innd refuses streaming from $feed_address (is it a peer in incoming.conf?): "
        . "$mode\n" unless $mode =~ /^203/;

    my ($accepted, $duplicates, $pending) = (0, 0, 0);
    my $output = '';
    my $take_reply = sub {
        my $reply = read_line($connection);
        $pending--;
        if ($reply =~ /^239 /) {
            $accepted++;
        } elsif ($reply =~ /^439 \S+(?:\s*$| .*duplicate)/i) {
            # innd gives no reason for an article it already holds, or says "duplicate"; the
            # group counts checked after feeding catch any other refusal.
            $duplicates++;
        } else {
            die "news-seed: innd did not take an article: $reply\n";
        }
    };
    while (defined(my $article = $set->{articles}->())) {
        $output .= "TAKETHIS $article->{id}\r\n" . wire_form($article->{text});
        $pending++;
        if (length($output) >= 65536 || $pending >= WINDOW) {
            write_all($connection, $output);
            $output = '';
        }
        $take_reply->() while $pending >= WINDOW;
    }
    write_all($connection, $output . "QUIT\r\n");
    $take_reply->() while $pending > 0;
    close($socket);
    return ($accepted, $duplicates);
}

# The article as it travels: CR LF line ends, a Path header for innd, lines starting with a
# dot doubled (RFC 3977 section 3.1.1), and the terminating line of one dot.
sub wire_form {
    my ($text) = @_;
    $text .= "\n" unless $text =~ /\n\z/;
    $text = "Path: zk-seed!not-for-mail\n" . $text unless $text =~ /^Path:/mi;
    $text =~ s/^\./../mg;
    $text =~ s/\n/\r\n/g;
    return $text . ".\r\n";
}

# --- reading the groups ------------------------------------------------------------------

# The highest article number of a group, asked of nnrpd as any reader would.
sub last_article_number {
    my ($group) = @_;
    my $socket = IO::Socket::INET->new(PeerAddr => $host, PeerPort => $port, Proto => 'tcp')
        or die "news-seed: cannot connect to $host:$port: $@\n";
    my $connection = { socket => $socket, input => '' };
    my $greeting = read_line($connection);
    die "news-seed: unexpected reader greeting: $greeting\n" unless $greeting =~ /^20[01] /;
    write_all($connection, "GROUP $group\r\n");
    my $reply = read_line($connection);
    write_all($connection, "QUIT\r\n");
    close($socket);
    die "news-seed: the server does not carry $group (run scripts/news-server.sh start): "
        . "$reply\n" unless $reply =~ /^211 (\d+) (\d+) (\d+) /;
    return $1 == 0 ? 0 : $3;
}

# --- the socket --------------------------------------------------------------------------

sub write_all {
    my ($connection, $bytes) = @_;
    my $offset = 0;
    while ($offset < length($bytes)) {
        my $written = syswrite($connection->{socket}, $bytes, length($bytes) - $offset, $offset);
        die "news-seed: write failed: $!\n" unless defined $written;
        $offset += $written;
    }
}

sub read_line {
    my ($connection) = @_;
    while ($connection->{input} !~ /\n/) {
        my $read = sysread($connection->{socket}, $connection->{input}, 65536,
                           length($connection->{input}));
        die "news-seed: read failed: $!\n" unless defined $read;
        die "news-seed: the server closed the connection\n" if $read == 0;
    }
    $connection->{input} =~ s/^([^\n]*)\n//;
    (my $line = $1) =~ s/\r\z//;
    return $line;
}
