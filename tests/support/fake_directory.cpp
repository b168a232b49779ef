#include "tests/support/fake_directory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <deque>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "analysis/organization_row.h"
#include "analysis/page_analysis.h"

namespace mirava::testing {

namespace {

// splitmix64: the same directory on every platform and standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed)
      : state_(seed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }
  int Between(int low, int high) {
    return low + static_cast<int>(Below(static_cast<std::size_t>(high - low + 1)));
  }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }
  template <typename T>
  void Shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i) {
      std::swap(items[i - 1], items[Below(i)]);
    }
  }

 private:
  std::uint64_t state_;
};

constexpr std::size_t kBigCategory = 0;
constexpr int kReachableCards = analysis::kMaxListingPage * analysis::kCompaniesPerPage;

struct CityFacts {
  DirectoryCity City;
  std::string Region;     // the car-plate region code, for handles
  std::string PhoneCode;  // area code
  int LocalDigits = 6;
  std::string MobileCode;
  std::vector<std::string> Streets;
};

std::vector<CityFacts> AllCities() {
  return {
      {{"Барнаул",
        "Барнауле",
        "barnaul/",
        false,
        {{"Центральный", "tsentralnyy/"},
         {"Индустриальный", "industrialnyy/"},
         {"Ленинский", "leninskiy/"},
         {"Октябрьский", "oktyabrskiy/"},
         {"Железнодорожный", "zheleznodorozhnyy/"}}},
       "22",
       "3852",
       6,
       "913",
       {"ул. Малахова", "пр-т Ленина", "ул. Попова", "пр-т Космонавтов", "Павловский тракт",
        "ул. Северо-Западная", "ул. Антона Петрова"}},
      {{"Новосибирск",
        "Новосибирске",
        "novosibirsk/",
        true,
        {{"Площадь Ленина", "ploshchad-lenina/"},
         {"Красный проспект", "krasnyy-prospekt/"},
         {"Заельцовская", "zaeltsovskaya/"},
         {"Речной вокзал", "rechnoy-vokzal/"}}},
       "54",
       "383",
       7,
       "923",
       {"ул. Станционная", "Красный пр-т", "ул. Большевистская", "ул. Петухова", "ул. Кирова",
        "ул. Волочаевская", "ул. Богдана Хмельницкого"}},
      {{"Казань",
        "Казани",
        "kazan/",
        true,
        {{"Кремлёвская", "kremlyovskaya/"},
         {"Суконная слобода", "sukonnaya-sloboda/"},
         {"Проспект Победы", "prospekt-pobedy/"},
         {"Козья слобода", "kozya-sloboda/"}}},
       "116",
       "843",
       7,
       "917",
       {"ул. Декабристов", "пр-т Победы", "ул. Тэцевская", "ул. Восстания", "ул. Журналистов",
        "ул. Гвардейская", "ул. Сибирский тракт"}},
  };
}

struct CategoryFacts {
  DirectoryCategory Category;
  bool Structured = false;  // named by its structured-data breadcrumb
  std::vector<std::string> Kinds;
};

const std::vector<CategoryFacts>& AllCategories() {
  static const std::vector<CategoryFacts> categories = {
      {{"Автосервисы", "autoservice/type/avtoservisy/"},
       true,
       {"Автосервис", "СТО", "Автотехцентр"}},
      {{"Чип-тюнинг", "autoservice/type/chip-tuning/"}, true, {"Чип-тюнинг", "Тюнинг-ателье"}},
      {{"Шиномонтаж", "autoservice/type/shinomontazh/"}, false, {"Шиномонтаж", "Шинный центр"}},
      {{"Автомойки", "autoservice/type/avtomoyki/"}, true, {"Автомойка", "Детейлинг-центр"}},
      {{"Кузовной ремонт", "autoservice/type/kuzovnoy-remont/"},
       false,
       {"Кузовной центр", "Малярно-кузовной цех"}},
  };
  return categories;
}

struct NameFacts {
  std::string Name;
  std::string Handle;
};

const std::vector<NameFacts>& Names() {
  static const std::vector<NameFacts> names = {
      {"Гараж", "garazh"},         {"Мотор", "motor"},           {"Драйв", "drive"},
      {"Форсаж", "forsazh"},       {"Автодоктор", "avtodoktor"}, {"Колесо", "koleso"},
      {"Пит-стоп", "pitstop"},     {"Механика", "mekhanika"},    {"Турбо", "turbo"},
      {"Глянец", "glyanets"},      {"Поршень", "porshen"},       {"Автопилот", "avtopilot"},
      {"Северный", "severny"},     {"Шина Плюс", "shinaplus"},   {"Чистый кузов", "chistykuzov"},
      {"Вектор", "vektor"},        {"Сигнал", "signal"},         {"Кардан", "kardan"},
      {"Магистраль", "magistral"}, {"Ремзона", "remzona"},       {"Карбюратор", "karbyurator"},
  };
  return names;
}

const std::vector<NameFacts>& Owners() {
  static const std::vector<NameFacts> owners = {
      {"Иванов А. С.", "ivanov"},       {"Петров В. Н.", "petrov"},
      {"Сидоренко О. И.", "sidorenko"}, {"Кузнецова Е. В.", "kuznetsova"},
      {"Фёдоров Д. А.", "fedorov"},     {"Смирнов П. Г.", "smirnov"},
  };
  return owners;
}

std::string Digits(Random& random, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    out += static_cast<char>('0' + random.Below(10));
  }
  return out;
}

// "53-17-42" or "209-17-42"
std::string LocalNumber(Random& random, int digits) {
  const std::string all = std::to_string(random.Between(2, 9)) + Digits(random, digits - 1);
  const std::size_t head = all.size() - 4;
  return all.substr(0, head) + "-" + all.substr(head, 2) + "-" + all.substr(head + 2);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

FakeDirectory::FakeDirectory(const DirectoryOptions& options)
    : options_(options),
      changed_after_(options.ChangedAfter),
      robot_check_after_(options.RobotCheckAfter) {
  BuildCities();
  BuildCategories();
  BuildListings(BuildOrganizations());
  for (const DirectoryOrganization& organization : organizations_) {
    if (organization.ListedUnder.empty()) {
      throw std::logic_error("the directory lists no page of " + organization.Path);
    }
  }
}

void FakeDirectory::BuildCities() {
  std::vector<CityFacts> all = AllCities();
  const std::size_t count = options_.Size == DirectorySize::Small ? 2 : all.size();
  for (std::size_t i = 0; i < count; ++i) {
    DirectoryCity city = all[i].City;
    if (options_.Size == DirectorySize::Small) {
      city.Subdivisions.resize(3);
    }
    cities_.push_back(std::move(city));
  }
}

void FakeDirectory::BuildCategories() {
  for (const CategoryFacts& facts : AllCategories()) {
    categories_.push_back(facts.Category);
  }
}

std::vector<std::size_t> FakeDirectory::BuildOrganizations() {
  Random random(options_.Seed);
  const std::vector<CityFacts> cities = AllCities();
  const std::vector<CategoryFacts>& categories = AllCategories();
  std::vector<std::size_t> homes;
  const int per_city = options_.Size == DirectorySize::Small ? 9 : 110;
  int next_id = 4100000 + static_cast<int>(random.Below(500000));
  std::map<std::string, int> name_uses;

  for (std::size_t c = 0; c < cities_.size(); ++c) {
    const CityFacts& city = cities[c];
    for (int n = 0; n < per_city; ++n) {
      DirectoryOrganization organization;
      organization.City = c;
      next_id += random.Between(1, 977);
      organization.Data.Id = std::to_string(next_id);
      organization.Path = "/org/" + organization.Data.Id + "/";
      OrganizationPageData& data = organization.Data;

      // The home category decides the kind of business; the listings are built from it later.
      const std::size_t home = random.Below(categories.size());
      const std::string& kind = random.Pick(categories[home].Kinds);
      const NameFacts& name = random.Pick(Names());
      std::string handle = name.Handle;
      switch (random.Below(6)) {
        case 0:
          data.Name = kind + " «" + name.Name + "»";
          break;
        case 1:
          data.Name = "ООО \"" + name.Name + "\"";  // quotes come back as apostrophes
          break;
        case 2: {
          const NameFacts& owner = random.Pick(Owners());
          data.Name = "ИП " + owner.Name;
          handle = "ip-" + owner.Handle;
          break;
        }
        case 3:
          data.Name = name.Name + " & Ко";
          break;
        default:
          data.Name = kind + " " + name.Name;
      }
      const int uses = ++name_uses[data.Name];
      handle += city.Region;
      if (uses > 1) {
        data.Name += ", филиал " + std::to_string(uses);
        handle += "-" + std::to_string(uses);
      }

      data.Locality = city.City.Name;
      const std::string& street = random.Pick(city.Streets);
      data.AddressParts = {city.City.Name, street + ", " + std::to_string(random.Between(1, 240)) +
                                               (random.Chance(15) ? "а" : "")};
      switch (random.Below(5)) {
        case 0:
          data.AddressParts.push_back("бокс " + std::to_string(random.Between(1, 40)));
          break;
        case 1:
          data.AddressParts.push_back(std::to_string(random.Between(1, 3)) + " этаж");
          break;
        default:
          break;
      }

      if (random.Chance(90)) {
        data.Phones.push_back("+7 (" + city.PhoneCode + ") " +
                              LocalNumber(random, city.LocalDigits));
      }
      const std::string mobile = city.MobileCode + Digits(random, 7);
      if (random.Chance(50)) {
        data.Phones.push_back("+7 (" + city.MobileCode + ") " + mobile.substr(3, 3) + "-" +
                              mobile.substr(6, 2) + "-" + mobile.substr(8, 2));
      }
      if (random.Chance(60)) {
        data.WhatsApp = "7" + mobile;
      }
      if (random.Chance(40)) {
        data.Telegram = handle;
      }
      if (random.Chance(20)) {
        data.Max = "id" + Digits(random, 9);
      }
      if (random.Chance(65)) {
        data.WebSite = "https://" + handle + ".ru/";
        if (random.Chance(30)) {
          data.WebSite +=
              random.Chance(50) ? "?utm_source=mirava" : "uslugi/?from=mirava&id=" + data.Id;
        }
        data.WebSiteViaRedirect = random.Chance(80);
      }
      if (random.Chance(55)) {
        data.Vk = "https://vk.com/" + handle;
      }
      if (random.Chance(30)) {
        data.Tg = "https://t.me/" + handle + "_news";
      }
      data.SocialViaRedirect = random.Chance(90);

      homes.push_back(home);
      organizations_.push_back(std::move(organization));
    }
  }
  return homes;
}

std::string FakeDirectory::CategoryName(std::size_t city, std::size_t category) const {
  if (AllCategories()[category].Structured) {
    Listing empty;
    empty.City = city;
    empty.Category = category;
    return ExpectedCategoryName(ListingData("", empty, 1));
  }
  return categories_[category].Name;
}

ListingPageData FakeDirectory::ListingData(std::string_view origin, const Listing& listing,
                                           int page_number) const {
  const DirectoryCity& city = cities_[listing.City];
  const DirectoryCategory& category = categories_[listing.Category];
  ListingPageData data;
  data.Heading = listing.Heading;
  if (page_number > 1) {
    data.Heading += ", страница " + std::to_string(page_number);
  }
  data.CountText = std::to_string(listing.Count);
  data.PageNumber = page_number;
  data.Breadcrumb = category.Name;
  if (AllCategories()[listing.Category].Structured) {
    data.HasStructuredData = true;
    data.StructuredNames = {city.Name, "Автосервис", category.Name};
  }
  const int first = (page_number - 1) * analysis::kCompaniesPerPage;
  const int end = std::min(listing.Count, first + analysis::kCompaniesPerPage);
  for (int slot = first; slot < end; ++slot) {
    std::string link = std::string(origin) + organizations_[listing.Cards[slot]].Path;
    if (listing.CardQuery[slot]) {
      link += "?from=catalog&page=" + std::to_string(page_number);
    }
    data.CardLinks.push_back(std::move(link));
  }
  return data;
}

void FakeDirectory::AddListing(Listing listing) {
  const std::size_t index = listings_.size();
  const int pages =
      std::max(1, (listing.Count + analysis::kCompaniesPerPage - 1) / analysis::kCompaniesPerPage);
  pages_[listing.Root] = Page{Page::Kind::Listing, index, 1, {}};
  for (int k = 2; k <= pages; ++k) {
    pages_[listing.Root + "page-" + std::to_string(k) + "/"] =
        Page{Page::Kind::Listing, index, k, {}};
  }
  const std::string name = CategoryName(listing.City, listing.Category);
  for (int slot = 0; slot < std::min(listing.Count, kReachableCards); ++slot) {
    organizations_[listing.Cards[slot]].ListedUnder.insert(name);
  }
  listings_.push_back(std::move(listing));
}

void FakeDirectory::BuildListings(const std::vector<std::size_t>& homes) {
  Random random(options_.Seed ^ 0xD1EC7041ULL);
  const bool small = options_.Size == DirectorySize::Small;

  // Members of each city's categories: the home category, plus a share of the others.
  std::vector<std::vector<std::vector<std::size_t>>> members(
      cities_.size(), std::vector<std::vector<std::size_t>>(categories_.size()));
  for (std::size_t i = 0; i < organizations_.size(); ++i) {
    const DirectoryOrganization& organization = organizations_[i];
    const std::size_t home = homes[i];
    for (std::size_t k = 0; k < categories_.size(); ++k) {
      const int share = k == kBigCategory ? 45 : 12;
      if (k == home || random.Chance(share)) {
        members[organization.City][k].push_back(i);
      }
    }
  }

  for (std::size_t c = 0; c < cities_.size(); ++c) {
    const DirectoryCity& city = cities_[c];
    for (std::size_t k = 0; k < categories_.size(); ++k) {
      const DirectoryCategory& category = categories_[k];
      std::vector<std::size_t> shown = members[c][k];
      random.Shuffle(shown);
      const auto cards_of = [&](int count) {
        Listing listing;
        listing.City = c;
        listing.Category = k;
        listing.Count = count;
        for (int slot = 0; slot < count; ++slot) {
          listing.Cards.push_back(shown[static_cast<std::size_t>(slot) % shown.size()]);
          listing.CardQuery.push_back(random.Chance(15));
        }
        return listing;
      };
      const std::string root = "/" + city.Slug + category.Path;

      if (k != kBigCategory) {
        Listing listing = cards_of(static_cast<int>(shown.size()));
        listing.Root = root;
        listing.Heading = category.Name + " в " + city.Locative;
        AddListing(std::move(listing));
        continue;
      }

      // The big category: more companies than one listing shows, walked by subdivision.
      if (shown.empty()) {
        const auto first =
            std::find_if(organizations_.begin(), organizations_.end(),
                         [&](const auto& organization) { return organization.City == c; });
        shown.push_back(static_cast<std::size_t>(first - organizations_.begin()));
      }
      Listing listing = cards_of(random.Between(1001, 1300));
      listing.Root = root;
      listing.Heading = category.Name + " в " + city.Locative;
      AddListing(std::move(listing));

      Hub hub;
      hub.Kind = city.HasMetro ? HubKind::Metro : HubKind::District;
      hub.Heading = category.Name + " в " + city.Locative;
      const std::string hub_root = root + (city.HasMetro ? "metro/" : "rayon/");
      for (const DirectorySubdivision& subdivision : city.Subdivisions) {
        random.Shuffle(shown);
        Listing part = cards_of(small ? random.Between(2, 40) : random.Between(3, 75));
        part.Root = hub_root + subdivision.Slug;
        part.Heading = city.HasMetro ? category.Name + " у метро " + subdivision.Name
                                     : category.Name + " — " + subdivision.Name + " район";
        hub.Links.push_back(part.Root);
        AddListing(std::move(part));
      }
      if (city.HasMetro) {
        // A transfer station is listed under both of its lines.
        hub.Links.push_back(hub.Links.front());
      } else {
        // Without metro the site sends the metro address on to the districts.
        pages_[root + "metro/"] = Page{Page::Kind::Redirect, 0, 1, hub_root};
      }
      pages_[hub_root] = Page{Page::Kind::Hub, hubs_.size(), 1, {}};
      hubs_.push_back(std::move(hub));
    }
  }

  for (std::size_t i = 0; i < organizations_.size(); ++i) {
    pages_[organizations_[i].Path] = Page{Page::Kind::Organization, i, 1, {}};
  }
}

std::string FakeDirectory::CityValue(std::string_view origin, std::size_t city) const {
  return std::string(origin) + "/" + cities_[city].Slug;
}

std::string FakeDirectory::JobAddress(std::string_view origin, std::size_t city,
                                      std::size_t category) const {
  return CityValue(origin, city) + categories_[category].Path;
}

std::optional<FakeDirectory::Page> FakeDirectory::Find(std::string_view path) const {
  const auto found = pages_.find(path);
  if (found == pages_.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::uint64_t FakeDirectory::PathHash(std::string_view path, std::uint64_t salt) const {
  std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (const char c : path) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  Random mix(hash ^ (static_cast<std::uint64_t>(options_.Seed) << 32) ^ salt);
  return mix.Next();
}

std::string FakeDirectory::Render(std::string_view origin, const Page& page,
                                  bool redesigned) const {
  switch (page.Type) {
    case Page::Kind::Organization: {
      const OrganizationPageData& data = organizations_[page.Index].Data;
      const PageShape shape{options_.PageBytes, static_cast<std::uint32_t>(std::stoul(data.Id))};
      return redesigned ? RedesignedOrganizationPage(data, shape) : OrganizationPage(data, shape);
    }
    case Page::Kind::Hub: {
      const Hub& hub = hubs_[page.Index];
      HubPageData data;
      data.Kind = hub.Kind;
      data.Category = hub.Heading;
      for (const std::string& link : hub.Links) {
        data.Links.push_back(std::string(origin) + link);
      }
      return HubPage(data, PageShape{options_.PageBytes, static_cast<std::uint32_t>(page.Index)});
    }
    case Page::Kind::Listing: {
      const Listing& listing = listings_[page.Index];
      return ListingPage(ListingData(origin, listing, page.PageNumber),
                         PageShape{options_.PageBytes * 2,
                                   static_cast<std::uint32_t>(page.Index * 64 + page.PageNumber)});
    }
    case Page::Kind::Redirect:
      break;
  }
  return std::string();
}

FakeResponse FakeDirectory::Respond(std::string_view origin, const RecordedRequest& request) {
  const std::string& path = request.Path;
  const std::optional<Page> page = Find(std::string_view(path).substr(0, path.find('?')));
  const int failure_roll = static_cast<int>(PathHash(path, 1) % 100);
  const std::string accepted = Lower(request.Header("Accept-Encoding").value_or(""));
  const std::uint64_t compress_roll = PathHash(path, 2);
  const auto encoding_for = [&](int status) {
    if (status == 200 && static_cast<int>(compress_roll % 100) < options_.CompressedPercent) {
      if (compress_roll % 5 == 0 && Contains(accepted, "deflate")) {
        return FakeResponse::Encoding::Deflate;
      }
      if (Contains(accepted, "gzip")) {
        return FakeResponse::Encoding::Gzip;
      }
    }
    return FakeResponse::Encoding::Identity;
  };

  // What to answer is decided and recorded under one lock, so that the counts behind the change
  // options follow the order in which responses are served; the body is rendered outside it.
  enum class Answer { Missing, Refused, RateLimited, Redirect, Page, Redesigned, RobotCheck };
  Answer answer = Answer::Page;
  int status = 200;
  FakeResponse::Encoding encoding = FakeResponse::Encoding::Identity;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const int attempt = ++requests_per_path_[path];
    if (robot_check_after_ && ok_responses_ >= *robot_check_after_) {
      answer = Answer::RobotCheck;
    } else if (!page) {
      answer = Answer::Missing;
      status = 404;
    } else if (attempt == 1 && failure_roll < options_.RefusedPercent) {
      answer = Answer::Refused;
      status = 403;
    } else if (attempt == 1 &&
               failure_roll < options_.RefusedPercent + options_.RateLimitedPercent) {
      answer = Answer::RateLimited;
      status = 429;
    } else if (page->Type == Page::Kind::Redirect) {
      answer = Answer::Redirect;
      status = 301;
    } else if (page->Type == Page::Kind::Organization) {
      if (changed_after_ && organization_pages_ >= *changed_after_) {
        answer = Answer::Redesigned;
      }
      ++organization_pages_;
    }
    if (status == 200) {
      ++ok_responses_;
    }
    encoding = encoding_for(status);
    served_.push_back(ServedResponse{path, status, encoding,
                                     answer == Answer::Redesigned || answer == Answer::RobotCheck});
  }

  FakeResponse response;
  switch (answer) {
    case Answer::Missing:
      response = FakeResponse::Error(404);
      response.Body = "<html><body><h1>Страница не найдена</h1></body></html>";
      break;
    case Answer::Refused:
      response = FakeResponse::Error(403);
      response.Body = "<html><body><h1>Доступ ограничен</h1></body></html>";
      break;
    case Answer::RateLimited:
      response = FakeResponse::Error(429);
      response.Headers.emplace_back("Retry-After", "1");
      response.Body = "<html><body><h1>Слишком много запросов</h1></body></html>";
      break;
    case Answer::Redirect:
      response = FakeResponse::Redirect(std::string(origin) + page->Target, 301);
      break;
    case Answer::Page:
    case Answer::Redesigned:
      response = FakeResponse::Page(Render(origin, *page, answer == Answer::Redesigned));
      break;
    case Answer::RobotCheck:
      response = FakeResponse::Page(RobotCheckPage());
      break;
  }
  response.ContentEncoding = encoding;
  return response;
}

void FakeDirectory::BackToNormal() {
  std::lock_guard<std::mutex> guard(mutex_);
  changed_after_.reset();
  robot_check_after_.reset();
}

void FakeDirectory::Attach(FakeSite& site) {
  site.SetHandler([this, origin = site.Origin()](const RecordedRequest& request) {
    return std::optional<FakeResponse>(Respond(origin, request));
  });
}

std::vector<ServedResponse> FakeDirectory::Served() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return served_;
}

ExpectedCrawl FakeDirectory::ExpectCrawl(std::string_view origin,
                                         const std::vector<std::string>& job_addresses) const {
  ExpectedCrawl crawl;
  std::deque<std::string> queue(job_addresses.begin(), job_addresses.end());
  std::set<std::string> visited;
  for (const std::string& job : job_addresses) {
    visited.insert(Lower(job));
  }
  std::unordered_map<std::string, std::string> category_by_url;
  const auto enqueue = [&](const std::string& url) {
    if (!visited.insert(Lower(url)).second) {
      return false;
    }
    queue.push_back(url);
    return true;
  };

  while (!queue.empty()) {
    const std::string address = queue.front();
    queue.pop_front();
    if (address.compare(0, origin.size(), origin) != 0) {
      throw std::logic_error("the crawl leaves the directory: " + address);
    }
    std::string path = address.substr(origin.size());
    crawl.Requests.push_back(path);
    std::optional<Page> page = Find(path);
    if (page && page->Type == Page::Kind::Redirect) {
      crawl.Requests.push_back(page->Target);
      page = Find(page->Target);
    }
    if (!page) {
      throw std::logic_error("the directory links to a missing page: " + path);
    }

    switch (page->Type) {
      case Page::Kind::Organization: {
        const auto category = category_by_url.find(Lower(address));
        crawl.Rows.push_back(analysis::FormatRow(
            ExpectedRow(organizations_[page->Index].Data, address,
                        category == category_by_url.end() ? std::string() : category->second)));
        break;
      }
      case Page::Kind::Hub:
        for (const std::string& link : hubs_[page->Index].Links) {
          enqueue(std::string(origin) + link);
        }
        break;
      case Page::Kind::Listing: {
        const Listing& listing = listings_[page->Index];
        const bool later_page = Contains(address, "/page-");
        if (listing.Count > analysis::kMetroSplitThreshold && !later_page &&
            !Contains(address, "/metro/") && !Contains(address, "/rayon/")) {
          enqueue(address + "metro/");
        }
        if (!later_page) {
          for (int k = (listing.Count - 1) / analysis::kCompaniesPerPage; k >= 1; --k) {
            if (k + 1 <= analysis::kMaxListingPage) {
              enqueue(address + "page-" + std::to_string(k + 1) + "/");
            }
          }
        }
        const std::string name = CategoryName(listing.City, listing.Category);
        for (std::string link : ListingData(origin, listing, page->PageNumber).CardLinks) {
          link = link.substr(0, link.find('?'));
          if (enqueue(link)) {
            category_by_url.emplace(Lower(link), name);
          }
        }
        if (!later_page) {
          crawl.CategoryLogs.push_back("В категории " + name +
                                       " компаний: " + std::to_string(listing.Count));
        }
        break;
      }
      case Page::Kind::Redirect:
        throw std::logic_error("a redirect to a redirect: " + path);
    }
  }
  return crawl;
}

}  // namespace mirava::testing
