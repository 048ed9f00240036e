// What Codemill's exports cost, called through codemill.h as outside callers call them:
//   GETCODEMILL on code page 936 text (about two thirds of the bytes GB2312 characters,
//     the rest ASCII words, digits and blanks) as 32-byte titles, 1 KiB texts and one
//     1 MiB text, and on 1 KiB ASCII texts, each beside the floor: a strlen + memcpy
//     pass over the same bytes, with the ratio;
//   GetIsbn on a 50/50 mix of valid and invalid 10- and 13-digit numbers, with the heap
//     allocations counted (operator new is replaced here) after the thread's first call;
//   SetReadCadeId, CheckReadCadeId and GetPassword, in calls per second.
// Every measurement runs for at least 0.1 s; every run is printed, then the medians, and
// one last line of the medians: "codemill_bench: key_32b_gbs=… key_1k_gbs=… isbn_mcalls=…
// isbn_allocs=… make_card_mcalls=… check_card_mcalls=… password_mcalls=…".
//
//   codemill_bench [runs]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "codemill.h"

// Every allocation of the process goes through here, the library's included.
namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMinSeconds = 0.1;

// Keeps the compiler from dropping work whose result nobody reads.
template <typename T>
void Keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

// Runs `pass` (one pass over a set of inputs) until kMinSeconds have gone by; returns
// the passes per second.
template <typename Pass>
double PassesPerSecond(Pass pass) {
  const Clock::time_point start = Clock::now();
  long passes = 0;
  double seconds = 0;
  do {
    pass();
    ++passes;
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (seconds < kMinSeconds);
  return static_cast<double>(passes) / seconds;
}

// Code page 936 text of exactly `length` bytes: runs of one to six GB2312 characters
// (mostly first level), ASCII words in mixed case, numbers and blanks, about two thirds
// of the bytes in characters. A character that would not fit is replaced by a blank.
std::string Cp936Text(std::mt19937& random, std::size_t length) {
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> count(1, 6);
  std::uniform_int_distribution<int> trail(0xA1, 0xFE);
  std::uniform_int_distribution<int> firstLevel(0xB0, 0xD7);
  std::uniform_int_distribution<int> secondLevel(0xD8, 0xF7);
  std::uniform_int_distribution<int> letter(0, 25);
  std::uniform_int_distribution<int> digit(0, 9);
  std::string text;
  while (text.size() < length) {
    const int kind = percent(random);
    std::string piece;
    if (kind < 62) {
      for (int i = count(random); i > 0; --i) {
        const int lead = percent(random) < 85 ? firstLevel(random) : secondLevel(random);
        piece += static_cast<char>(lead);
        piece += static_cast<char>(lead == 0xD7 ? std::min(trail(random), 0xF9) : trail(random));
      }
    } else if (kind < 82) {
      for (int i = count(random) + 1; i > 0; --i) {
        piece += static_cast<char>((percent(random) < 30 ? 'A' : 'a') + letter(random));
      }
    } else if (kind < 92) {
      for (int i = count(random); i > 0; --i) {
        piece += static_cast<char>('0' + digit(random));
      }
    } else {
      piece = " ";
    }
    for (std::size_t i = 0; i < piece.size() && text.size() < length;) {
      if (static_cast<unsigned char>(piece[i]) < 0x80) {
        text += piece[i];
        i += 1;
      } else {
        if (text.size() + 2 <= length) {
          text.append(piece, i, 2);
        } else {
          text += ' ';
        }
        i += 2;
      }
    }
  }
  return text;
}

std::string AsciiText(std::mt19937& random, std::size_t length) {
  std::uniform_int_distribution<int> byte(0x20, 0x7E);
  std::string text;
  while (text.size() < length) {
    text += static_cast<char>(byte(random));
  }
  return text;
}

struct TextSet {
  const char* name;
  std::vector<std::string> texts;
  double bytes = 0;  // per pass
};

TextSet MakeSet(const char* name, std::size_t count, std::size_t length, bool ascii,
                std::mt19937& random) {
  TextSet set{name, {}, 0};
  for (std::size_t i = 0; i < count; ++i) {
    set.texts.push_back(ascii ? AsciiText(random, length) : Cp936Text(random, length));
    set.bytes += static_cast<double>(length);
  }
  return set;
}

// GB/s, and the heap allocations made meanwhile.
double KeyGBs(const TextSet& set, std::uint64_t& allocated) {
  const std::uint64_t before = allocations.load();
  const double rate = set.bytes * PassesPerSecond([&] {
                        for (const std::string& t : set.texts) {
                          const char* key = GETCODEMILL(t.c_str());
                          Keep(key);
                        }
                      }) / 1e9;
  allocated = allocations.load() - before;
  return rate;
}

double FloorGBs(const TextSet& set) {
  std::vector<char> copy(set.texts.front().size() + 1);
  return set.bytes * PassesPerSecond([&] {
           for (const std::string& t : set.texts) {
             const std::size_t n = std::strlen(t.c_str());
             std::memcpy(copy.data(), t.c_str(), n + 1);
             Keep(copy);
           }
         }) / 1e9;
}

// Nine digits followed by their ISBN-10 check character, or twelve by the EAN-13 one.
std::string WithIsbn10Check(std::string nine) {
  int sum = 0;
  for (int i = 0; i < 9; ++i) sum += (nine[static_cast<std::size_t>(i)] - '0') * (10 - i);
  const int r = sum % 11;
  return nine + (r == 0 ? '0' : r == 1 ? 'X' : static_cast<char>('0' + 11 - r));
}
std::string WithEan13Check(std::string twelve) {
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += (twelve[static_cast<std::size_t>(i)] - '0') * (i % 2 ? 3 : 1);
  return twelve + static_cast<char>('0' + (10 - sum % 10) % 10);
}

// A quarter each: valid ISBN-13 (978), valid ISBN-10 (group 7), and both with a wrong
// check character.
std::vector<std::string> IsbnMix(std::mt19937& random) {
  std::uniform_int_distribution<int> digit(0, 9);
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + digit(random));
    return s;
  };
  auto spoil = [](std::string s) {
    s.back() = s.back() == '1' ? '2' : '1';
    return s;
  };
  std::vector<std::string> mix;
  for (int i = 0; i < 1024; ++i) {
    mix.push_back(WithEan13Check("9787" + digits(8)));
    mix.push_back(WithIsbn10Check("7" + digits(8)));
    mix.push_back(spoil(WithEan13Check("9787" + digits(8))));
    mix.push_back(spoil(WithIsbn10Check("7" + digits(8))));
  }
  std::shuffle(mix.begin(), mix.end(), random);
  return mix;
}

struct CallRate {
  double callsPerSecond;
  std::uint64_t allocations;
  double calls;
};

template <typename Call>
CallRate Calls(std::size_t callsPerPass, Call call) {
  const std::uint64_t before = allocations.load();
  double passes = 0;
  const double rate = PassesPerSecond([&] {
    call();
    passes += 1;
  });
  const double calls = passes * static_cast<double>(callsPerPass);
  return {rate * static_cast<double>(callsPerPass), allocations.load() - before, calls};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  if (runs < 1) {
    std::fprintf(stderr, "usage: codemill_bench [runs]\n");
    return 2;
  }
  std::mt19937 random(15);
  // About 1 MiB per set, so that a pass stays in the caches as a caller's batch would.
  std::vector<TextSet> sets;
  sets.push_back(MakeSet("32-byte titles", 32768, 32, false, random));
  sets.push_back(MakeSet("1 KiB texts", 1024, 1024, false, random));
  sets.push_back(MakeSet("1 MiB text", 1, 1 << 20, false, random));
  sets.push_back(MakeSet("1 KiB ASCII texts", 1024, 1024, true, random));

  const std::vector<std::string> isbns = IsbnMix(random);
  std::vector<std::string> prefixes, cards, passwords;
  std::uniform_int_distribution<std::int32_t> serial(0, 9999999);
  for (int i = 0; i < 1024; ++i) {
    prefixes.push_back(std::to_string(1000 + i % 9000));
    std::string card = SetReadCadeId(prefixes.back().c_str(), serial(random));
    if (i % 2) card.back() = card.back() == '0' ? '1' : '0';  // half of them wrong
    cards.push_back(card);
    passwords.push_back(i % 2 ? std::string(GetPassword(("pw" + std::to_string(i)).c_str()))
                              : "secret" + std::to_string(i));
  }
  // The thread's first calls may set up its result storage: one key of the longest text.
  const char* isbn10 = nullptr;
  const char* publisher = nullptr;
  GetIsbn(isbns.front().c_str(), &isbn10, &publisher);
  GETCODEMILL(sets[2].texts.front().c_str());

  std::vector<std::vector<double>> key(sets.size()), floor(sets.size());
  std::vector<double> isbn, makeCard, checkCard, password;
  std::uint64_t isbnAllocations = 0;
  double isbnCalls = 0;
  for (int run = 1; run <= runs; ++run) {
    for (std::size_t s = 0; s < sets.size(); ++s) {
      std::uint64_t allocated = 0;
      key[s].push_back(KeyGBs(sets[s], allocated));
      floor[s].push_back(FloorGBs(sets[s]));
      std::printf("run %d: GETCODEMILL %-18s %6.3f GB/s, strlen + memcpy %6.2f GB/s, ratio %5.1f, "
                  "%llu heap allocations\n",
                  run, sets[s].name, key[s].back(), floor[s].back(),
                  floor[s].back() / key[s].back(), static_cast<unsigned long long>(allocated));
    }
    const CallRate i = Calls(isbns.size(), [&] {
      for (const std::string& n : isbns) {
        const unsigned char ok = GetIsbn(n.c_str(), &isbn10, &publisher);
        Keep(ok);
      }
    });
    isbn.push_back(i.callsPerSecond / 1e6);
    isbnAllocations += i.allocations;
    isbnCalls += i.calls;
    std::printf("run %d: GetIsbn %6.1f M calls/s, %llu heap allocations in %.0f calls\n", run,
                isbn.back(), static_cast<unsigned long long>(i.allocations), i.calls);

    std::int32_t number = 0;
    const CallRate m = Calls(prefixes.size(), [&] {
      for (const std::string& p : prefixes) {
        const char* id = SetReadCadeId(p.c_str(), number++ & 0x7FFFFF);
        Keep(id);
      }
    });
    const CallRate c = Calls(cards.size(), [&] {
      for (const std::string& id : cards) {
        const unsigned char ok = CheckReadCadeId(id.c_str());
        Keep(ok);
      }
    });
    const CallRate p = Calls(passwords.size(), [&] {
      for (const std::string& t : passwords) {
        const char* stored = GetPassword(t.c_str());
        Keep(stored);
      }
    });
    makeCard.push_back(m.callsPerSecond / 1e6);
    checkCard.push_back(c.callsPerSecond / 1e6);
    password.push_back(p.callsPerSecond / 1e6);
    std::printf("run %d: SetReadCadeId %6.1f M calls/s, CheckReadCadeId %6.1f M calls/s, "
                "GetPassword %6.1f M calls/s (heap allocations: %llu, %llu, %llu)\n",
                run, makeCard.back(), checkCard.back(), password.back(),
                static_cast<unsigned long long>(m.allocations),
                static_cast<unsigned long long>(c.allocations),
                static_cast<unsigned long long>(p.allocations));
  }

  std::printf("median of %d runs:\n", runs);
  for (std::size_t s = 0; s < sets.size(); ++s) {
    const double k = Median(key[s]), f = Median(floor[s]);
    std::printf("  GETCODEMILL %-18s %6.3f GB/s, strlen + memcpy %6.2f GB/s, ratio %5.1f\n",
                sets[s].name, k, f, f / k);
  }
  std::printf("  GetIsbn          %6.1f M calls/s, %.3f heap allocations per call\n",
              Median(isbn), static_cast<double>(isbnAllocations) / isbnCalls);
  std::printf("  SetReadCadeId    %6.1f M calls/s\n", Median(makeCard));
  std::printf("  CheckReadCadeId  %6.1f M calls/s\n", Median(checkCard));
  std::printf("  GetPassword      %6.1f M calls/s\n", Median(password));
  std::printf("codemill_bench: key_32b_gbs=%.3f key_1k_gbs=%.3f isbn_mcalls=%.1f isbn_allocs=%llu "
              "make_card_mcalls=%.1f check_card_mcalls=%.1f password_mcalls=%.1f\n",
              Median(key[0]), Median(key[1]), Median(isbn),
              static_cast<unsigned long long>(isbnAllocations), Median(makeCard),
              Median(checkCard), Median(password));
  return 0;
}
