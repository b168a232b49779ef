#include "tests/support/site_pages.h"

#include <array>
#include <string>

namespace mirava::testing {

namespace {

// splitmix64: the same pages on every platform and standard library.
class PageRandom {
 public:
  explicit PageRandom(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }

 private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 32> kWords = {
    "компания", "услуги",   "качество", "клиенты", "опыт",       "работа",   "специалисты",
    "цены",     "доставка", "отзыв",    "быстро",  "удобно",     "вежливый", "персонал",
    "отличный", "сервис",   "город",    "район",   "улица",      "офис",     "время",
    "день",     "заказ",    "мастер",   "помощь",  "рекомендую", "всем",     "спасибо",
    "недорого", "Москва",   "центр",    "записи"};

constexpr std::array<std::string_view, 8> kIdentifiers = {"e",     "t",     "n",    "r",
                                                          "ready", "track", "lazy", "init"};

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#039;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// JSON string contents; "<" and ">" escaped so the structured data holds no tag character.
std::string JsonEscape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '<':
        out += "\\u003c";
        break;
      case '>':
        out += "\\u003e";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string_view CutBefore(std::string_view text, char stop) {
  return text.substr(0, text.find(stop));
}

std::string Sanitized(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '"') {
      c = '\'';
    }
  }
  return out;
}

std::string Sentence(PageRandom& random, std::size_t words) {
  std::string out;
  for (std::size_t i = 0; i < words; ++i) {
    if (i > 0) {
      out += ' ';
    }
    out += kWords[random.Below(kWords.size())];
  }
  out += '.';
  return out;
}

std::string Identifier(PageRandom& random) {
  return std::string(kIdentifiers[random.Below(kIdentifiers.size())]) +
         std::to_string(random.Below(1000));
}

// Minified-looking inline script.
void AddScript(std::string& page, PageRandom& random, std::size_t bytes) {
  const std::size_t end = page.size() + bytes;
  page += "<script>";
  while (page.size() < end) {
    const std::string id = Identifier(random);
    switch (random.Below(4)) {
      case 0:
        page += "function " + id +
                "(e,t){var n=e.length;for(var r=0;r<n;r++){if(e[r]>t)return r}return -1}";
        break;
      case 1:
        page += "window." + id + "=window." + id + "||[];";
        break;
      case 2:
        page += "var " + id + "={url:\"https://mirava.ru/api/v2/" + id +
                "\",timeout:" + std::to_string(random.Below(10000)) + ",retry:!0};";
        break;
      default:
        page += "document.addEventListener(\"DOMContentLoaded\",function(){" + id + "(" +
                std::to_string(random.Below(100)) + ")});";
    }
  }
  page += "</script>\n";
}

// The page's state blob: a large JSON object with Cyrillic strings.
void AddStateBlob(std::string& page, PageRandom& random, std::size_t bytes) {
  const std::size_t end = page.size() + bytes;
  page +=
      "<script>window.__INITIAL_STATE__={\"city\":{\"id\":1,\"slug\":\"moskva\",\"title\":"
      "\"Москва\"},\"items\":[";
  bool first = true;
  while (page.size() < end) {
    if (!first) {
      page += ',';
    }
    first = false;
    page += "{\"id\":" + std::to_string(random.Below(1000000)) + ",\"title\":\"" +
            Sentence(random, 3) + "\",\"text\":\"" + Sentence(random, 12) + "\",\"rating\":4." +
            std::to_string(random.Below(10)) + ",\"tags\":[\"" +
            std::string(kWords[random.Below(kWords.size())]) + "\"]}";
  }
  page += "]};</script>\n";
}

void AddHead(std::string& page, PageRandom& random, std::string_view title, std::size_t bytes) {
  page += "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  page += HtmlEscape(title);
  page +=
      "</title>\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<link rel=\"stylesheet\" href=\"https://mirava.ru/static/css/main.css\">\n";
  if (bytes > 0) {
    AddScript(page, random, bytes / 3);
    AddStateBlob(page, random, bytes / 2);
    AddScript(page, random, bytes - bytes / 3 - bytes / 2);
  }
}

void AddNavigation(std::string& page, PageRandom& random, std::size_t bytes) {
  if (bytes == 0) {
    return;
  }
  const std::size_t end = page.size() + bytes;
  page += "<nav class=\"site-nav\"><ul class=\"site-nav__list\">\n";
  while (page.size() < end) {
    page += "<li class=\"site-nav__item\"><a href=\"https://mirava.ru/moskva/rubric-" +
            std::to_string(random.Below(5000)) + "/\" class=\"site-nav__link\">" +
            std::string(kWords[random.Below(kWords.size())]) + "</a></li>\n";
  }
  page += "</ul></nav>\n";
}

void AddReviews(std::string& page, PageRandom& random, std::size_t bytes) {
  if (bytes == 0) {
    return;
  }
  const std::size_t end = page.size() + bytes;
  page += "<section class=\"reviews\"><h2 class=\"reviews__title\">Отзывы</h2>\n";
  while (page.size() < end) {
    page += "<div class=\"review\" data-id=\"" + std::to_string(random.Below(1000000)) +
            "\"><div class=\"review__head\"><span class=\"review__author\">" +
            std::string(kWords[random.Below(kWords.size())]) +
            "</span><time datetime=\"2023-05-01\">1 мая 2023</time></div>\n<p "
            "class=\"review__text\">" +
            Sentence(random, 10 + random.Below(30)) + " &laquo;" + Sentence(random, 3) +
            "&raquo;</p></div>\n";
  }
  page += "</section>\n";
}

void AddFooter(std::string& page) {
  page +=
      "<div class=\"footer-container\"><p>&copy; Mirava, справочник организаций</p></div>\n"
      "</body>\n</html>\n";
}

// How a filler budget is spread over the page: the seed moves the markers deeper or shallower.
struct FillerSplit {
  std::size_t Head = 0;
  std::size_t Navigation = 0;
  std::size_t Middle = 0;
  std::size_t Tail = 0;
};

FillerSplit SplitFiller(std::size_t bytes, PageRandom& random) {
  FillerSplit split;
  if (bytes == 0) {
    return split;
  }
  const std::size_t head_percent = 20 + random.Below(41);       // 20..60
  const std::size_t navigation_percent = 5 + random.Below(16);  // 5..20
  const std::size_t middle_percent = random.Below(21);          // 0..20
  split.Head = bytes * head_percent / 100;
  split.Navigation = bytes * navigation_percent / 100;
  split.Middle = bytes * middle_percent / 100;
  split.Tail = bytes - split.Head - split.Navigation - split.Middle;
  return split;
}

std::string AddressBlock(const OrganizationPageData& data) {
  std::string block =
      "<div class=\"org-page__address\">\n<meta itemprop=\"addressLocality\" content=\"" +
      HtmlEscape(data.Locality) +
      "\">\n<address class=\"org-address\" itemprop=\"address\" itemscope "
      "itemtype=\"http://schema.org/PostalAddress\">\n";
  for (std::size_t i = 0; i < data.AddressParts.size(); ++i) {
    // Parts run into one line with single spaces once tags and line breaks are gone.
    block += "          <span class=\"org-address__part\">" + HtmlEscape(data.AddressParts[i]) +
             "</span>";
    block += i + 1 < data.AddressParts.size() ? (i % 2 == 0 ? ",<br>\n" : ",\n") : "\n";
  }
  block += "        </address>\n</div>\n";
  return block;
}

std::string PhoneBlock(const OrganizationPageData& data) {
  std::string block = "<div class=\"service-block-controls\">\n";
  if (data.Phones.empty()) {
    block += "<span class=\"org-phone__none\">Телефон не указан</span>\n";
  }
  for (const std::string& phone : data.Phones) {
    block += "  <button class=\"org-phone\" type=\"button\" data-number=\"" + HtmlEscape(phone) +
             "\">Показать телефон</button>\n";
  }
  block += "</div>\n";
  return block;
}

std::string MessengerBlock(const OrganizationPageData& data) {
  std::string block = "<div class=\"org-messengers\" id=\"social-messengers\">";
  if (!data.WhatsApp.empty()) {
    block += "<a class=\"messenger messenger--wa\" href=\"" +
             std::string(analysis::kWhatsAppPrefix) + data.WhatsApp +
             "?text=%D0%97%D0%B4%D1%80%D0%B0%D0%B2%D1%81%D1%82%D0%B2%D1%83%D0%B9%D1%82%D0%B5\" "
             "target=\"_blank\" rel=\"nofollow\">WhatsApp</a>\n";
  }
  if (!data.Telegram.empty()) {
    block += "<a class=\"messenger messenger--tg\" href=\"" +
             std::string(analysis::kTelegramPrefix) + data.Telegram +
             "?start=mirava\" target=\"_blank\" rel=\"nofollow\">Telegram</a>\n";
  }
  if (!data.Max.empty()) {
    block += "<a class=\"messenger messenger--max\" href=\"" +
             std::string(analysis::kMaxProfilePrefix) + data.Max +
             "\" target=\"_blank\" rel=\"nofollow\">Max</a>\n";
  }
  block += "</div>\n";
  return block;
}

std::string WebSiteBlock(const OrganizationPageData& data) {
  if (data.WebSite.empty()) {
    return std::string();
  }
  const std::string link =
      data.WebSiteViaRedirect ? RedirectLink(data.WebSite) : HtmlEscape(data.WebSite);
  return "<div class=\"org-service-website\"><a href=\"" + link +
         "\" target=\"_blank\" rel=\"nofollow noopener\">" +
         HtmlEscape(CutBefore(data.WebSite, '?')) + "</a></div>\n";
}

std::string SocialBlock(const OrganizationPageData& data) {
  if (data.Vk.empty() && data.Tg.empty()) {
    return std::string();
  }
  const auto link = [&](const std::string& target) {
    return data.SocialViaRedirect ? RedirectLink(target) : HtmlEscape(target);
  };
  std::string block = "<div class=\"org-social-list\">";
  if (!data.Vk.empty()) {
    block += "<a class=\"social social--vk\" href=\"" + link(data.Vk) +
             "\" data-type=\"vk_group\" target=\"_blank\">ВКонтакте</a>";
  }
  if (!data.Tg.empty()) {
    block += "<a class=\"social social--tg\" href=\"" + link(data.Tg) +
             "\" data-type=\"telegram\" target=\"_blank\">Telegram-канал</a>";
  }
  block += "</div>\n";
  return block;
}

std::string StructuredData(const ListingPageData& data) {
  std::string json =
      "<script type=\"application/ld+json\">{\"@context\":\"https://schema.org\",\"@type\":"
      "\"BreadcrumbList\",\"itemListElement\":[";
  for (std::size_t i = 0; i < data.StructuredNames.size(); ++i) {
    if (i > 0) {
      json += ',';
    }
    json += "{\"@type\":\"ListItem\",\"position\":" + std::to_string(i + 1) +
            ",\"item\":{\"@id\":\"https://mirava.ru/crumb-" + std::to_string(i + 1) +
            "/\",\"name\":\"" + JsonEscape(data.StructuredNames[i]) + "\"}}";
  }
  json += "]}</script>\n";
  return json;
}

std::string Card(const std::string& link, std::size_t index, PageRandom& random,
                 std::size_t filler) {
  std::string card = "<div class=\"minicard-item\" data-id=\"" + std::to_string(index) +
                     "\">\n<div class=\"minicard-item__media\"><img src=\"https://img.mirava.ru/" +
                     std::to_string(random.Below(100000)) +
                     ".jpg\" alt=\"\" loading=\"lazy\"></div>\n"
                     "<div class=\"minicard-item__info\">";
  const std::string title = Sentence(random, 2);
  if (link.empty()) {
    card += "<span class=\"minicard-item__title\">" + title + "</span>";
  } else {
    card += "<a class=\"minicard-item__title\" href=\"" + HtmlEscape(link) + "\">" + title + "</a>";
  }
  card +=
      "\n<div class=\"minicard-item__rating\"><svg class=\"icon\" viewBox=\"0 0 24 24\"><path "
      "d=\"M12 17.27L18.18 21l-1.64-7.03L22 9.24l-7.19-.61L12 2 9.19 8.63 2 9.24l5.46 4.73L5.82 "
      "21z\"/></svg> 4." +
      std::to_string(random.Below(10)) + "</div>\n<p class=\"minicard-item__text\">";
  const std::size_t end = card.size() + filler;
  do {
    card += Sentence(random, 8) + ' ';
  } while (card.size() < end);
  card += "</p>\n</div>\n</div>\n";
  return card;
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                            byte == '_' || byte == '~';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

std::string RedirectLink(std::string_view target) {
  return std::string(analysis::kRedirectTargetPrefix) + PercentEncode(target) +
         "&amp;utm_source=mirava&amp;sign=7f3a9c";
}

std::string OrganizationPage(const OrganizationPageData& data, const PageShape& shape) {
  PageRandom random(shape.Seed);
  const std::string blocks[] = {AddressBlock(data), PhoneBlock(data), MessengerBlock(data),
                                WebSiteBlock(data), SocialBlock(data)};
  std::size_t fixed = 2000;
  for (const std::string& block : blocks) {
    fixed += block.size();
  }
  const FillerSplit filler =
      SplitFiller(shape.TargetSize > fixed ? shape.TargetSize - fixed : 0, random);

  std::string page;
  page.reserve(shape.TargetSize + fixed + 4096);
  AddHead(page, random, data.Name + " — адрес, телефон, отзывы", filler.Head);
  page += "<script>window.Global=window.Global||{};window.Global.organizationId=" + data.Id +
          ";window.Global.organization={id: " + data.Id + ", name: '" + HtmlEscape(data.Name) +
          "', rating: 4.7};</script>\n</head>\n<body class=\"page-org\">\n";
  AddNavigation(page, random, filler.Navigation);
  page += "<div class=\"org-page\">\n<h1 class=\"org-page__title\">" + HtmlEscape(data.Name) +
          "</h1>\n";
  // The contact blocks in an order of the seed's choosing, with reviews somewhere among them.
  std::array<std::size_t, 5> order = {0, 1, 2, 3, 4};
  for (std::size_t i = order.size() - 1; i > 0; --i) {
    std::swap(order[i], order[random.Below(i + 1)]);
  }
  const std::size_t reviews_at = random.Below(order.size() + 1);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i == reviews_at) {
      AddReviews(page, random, filler.Middle);
    }
    page += blocks[order[i]];
  }
  if (reviews_at == order.size()) {
    AddReviews(page, random, filler.Middle);
  }
  page += "</div>\n";
  AddReviews(page, random, filler.Tail);
  AddFooter(page);
  return page;
}

std::string ListingPage(const ListingPageData& data, const PageShape& shape) {
  PageRandom random(shape.Seed);
  const std::size_t fixed = 3000 + data.CardLinks.size() * 700;
  FillerSplit filler = SplitFiller(shape.TargetSize > fixed ? shape.TargetSize - fixed : 0, random);
  // Most of a long listing is its cards.
  const std::size_t per_card =
      data.CardLinks.empty() ? 0 : (filler.Middle + filler.Tail / 2) / data.CardLinks.size();
  if (!data.CardLinks.empty()) {
    filler.Tail -= filler.Tail / 2;
  }

  std::string page;
  page.reserve(shape.TargetSize + fixed + 4096);
  AddHead(page, random, data.Heading, filler.Head);
  page += "<script>window.Global=window.Global||{};window.Global.cityId=1;</script>\n";
  if (data.HasStructuredData) {
    page += StructuredData(data);
  }
  page += "</head>\n<body class=\"page-catalog\">\n";
  AddNavigation(page, random, filler.Navigation);
  page +=
      "<ul class=\"breadcrumbs\"><li class=\"rel\"><a href=\"https://mirava.ru/\">Главная</a>"
      "</li><li class=\"rel current\"><a href=\"https://mirava.ru/moskva/\">" +
      HtmlEscape(data.Breadcrumb) + "</a></li></ul>\n";
  page += "<h1 class=\"catalog__title\">" + HtmlEscape(data.Heading) + "</h1>\n";
  page += "<div class=\"ranges\" data-props='{\"count\":" + data.CountText +
          ",\"page\":" + std::to_string(data.PageNumber) + ",\"perPage\":30}'></div>\n";
  page += "<div class=\"catalog__list\">\n";
  for (std::size_t i = 0; i < data.CardLinks.size(); ++i) {
    page += Card(data.CardLinks[i], i + 1, random, per_card);
  }
  page += "</div>\n<div class=\"pagination\"><a href=\"https://mirava.ru/moskva/page-" +
          std::to_string(data.PageNumber + 1) + "/\">Дальше</a></div>\n";
  AddReviews(page, random, filler.Tail);
  AddFooter(page);
  return page;
}

std::string HubPage(const HubPageData& data, const PageShape& shape) {
  PageRandom random(shape.Seed);
  const bool metro = data.Kind == HubKind::Metro;
  const std::string heading = data.Category + (metro ? " по станциям метро" : " по районам");
  const std::size_t fixed = 2000 + data.Links.size() * 120;
  const FillerSplit filler =
      SplitFiller(shape.TargetSize > fixed ? shape.TargetSize - fixed : 0, random);

  std::string page;
  page.reserve(shape.TargetSize + fixed + 4096);
  AddHead(page, random, heading, filler.Head);
  page += "</head>\n<body class=\"page-hub\">\n";
  AddNavigation(page, random, filler.Navigation + filler.Middle);
  page += "<h1 class=\"hub__title\">" + HtmlEscape(heading) + "</h1>\n";
  page += metro ? "<div class=\"hub-select hub-select--metro\">\n<ul class=\"hub-list\">\n"
                : "<div class=\"hub-page hub-page--rayon\">\n<ul class=\"hub-list\">\n";
  for (std::size_t i = 0; i < data.Links.size(); ++i) {
    page += "<li class=\"hub-list__item\"><a href=\"" + HtmlEscape(data.Links[i]) +
            "\" class=\"hub-list__link\">" + (metro ? "Станция " : "Район ") +
            std::to_string(i + 1) + "</a></li>\n";
  }
  page += "</ul>\n</div>\n";
  // Anything with links goes after the footer marker, out of the hub's region.
  page += "<div class=\"footer-container\"><p>&copy; Mirava, справочник организаций</p></div>\n";
  AddReviews(page, random, filler.Tail);
  page += "</body>\n</html>\n";
  return page;
}

std::string RedesignedOrganizationPage(const OrganizationPageData& data, const PageShape& shape) {
  PageRandom random(shape.Seed);
  std::string card = "<section class=\"company-card\">\n<h1 class=\"company-card__name\">" +
                     HtmlEscape(data.Name) + "</h1>\n<div class=\"company-card__location\" " +
                     "data-city=\"" + HtmlEscape(data.Locality) + "\">";
  for (std::size_t i = 0; i < data.AddressParts.size(); ++i) {
    card += (i > 0 ? ", <span>" : "<span>") + HtmlEscape(data.AddressParts[i]) + "</span>";
  }
  card += "</div>\n<div class=\"company-card__phones\">";
  for (const std::string& phone : data.Phones) {
    card += "<a class=\"company-card__phone\" href=\"tel:" + HtmlEscape(phone) + "\">" +
            HtmlEscape(phone) + "</a>";
  }
  card += "</div>\n<div class=\"company-card__chats\">";
  const auto chat = [&](std::string_view prefix, const std::string& id, std::string_view label) {
    if (!id.empty()) {
      card += "<a class=\"company-card__chat\" href=\"" + std::string(prefix) + HtmlEscape(id) +
              "\" rel=\"nofollow\">" + std::string(label) + "</a>";
    }
  };
  chat(analysis::kWhatsAppPrefix, data.WhatsApp, "WhatsApp");
  chat(analysis::kTelegramPrefix, data.Telegram, "Telegram");
  chat(analysis::kMaxProfilePrefix, data.Max, "Max");
  card += "</div>\n";
  if (!data.WebSite.empty()) {
    card += "<div class=\"company-card__site\"><a href=\"" + HtmlEscape(data.WebSite) +
            "\" rel=\"nofollow noopener\">" + HtmlEscape(CutBefore(data.WebSite, '?')) +
            "</a></div>\n";
  }
  card += "<div class=\"company-card__networks\">";
  if (!data.Vk.empty()) {
    card += "<a href=\"" + HtmlEscape(data.Vk) + "\" data-network=\"vk\">ВКонтакте</a>";
  }
  if (!data.Tg.empty()) {
    card += "<a href=\"" + HtmlEscape(data.Tg) + "\" data-network=\"tg\">Telegram-канал</a>";
  }
  card += "</div>\n</section>\n";

  const std::size_t fixed = 2000 + card.size();
  const FillerSplit filler =
      SplitFiller(shape.TargetSize > fixed ? shape.TargetSize - fixed : 0, random);
  std::string page;
  page.reserve(shape.TargetSize + fixed + 4096);
  AddHead(page, random, data.Name + " — контакты и отзывы", filler.Head);
  // The marker stays; the name moved to another key.
  page += "<script>window.Global=window.Global||{};window.Global.organizationId=" + data.Id +
          ";window.Global.company={id: " + data.Id + ", title: '" + HtmlEscape(data.Name) +
          "'};</script>\n</head>\n<body class=\"page-company\">\n";
  AddNavigation(page, random, filler.Navigation);
  page += card;
  AddReviews(page, random, filler.Middle + filler.Tail);
  AddFooter(page);
  return page;
}

std::string RobotCheckPage() {
  return "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>Проверка</title>\n</head>\n<body class=\"page-check\">\n"
         "<div class=\"check\">\n<h2 class=\"check__title\">Подтвердите, что вы не робот</h2>\n"
         "<p>С вашего адреса пришло слишком много запросов. Отметьте флажок, чтобы "
         "продолжить.</p>\n"
         "<form method=\"post\" action=\"/check/\"><label><input type=\"checkbox\" "
         "name=\"human\"> Я не робот</label> <button type=\"submit\">Продолжить</button></form>\n"
         "</div>\n</body>\n</html>\n";
}

analysis::OrganizationRow ExpectedRow(const OrganizationPageData& data, const std::string& url,
                                      const std::string& category) {
  analysis::OrganizationRow row;
  row[analysis::kLinkColumn] = url;
  row[analysis::kCategoryColumn] = category;
  row[analysis::kOrganizationColumn] = Sanitized(data.Name);
  std::string address;
  for (const std::string& part : data.AddressParts) {
    address += address.empty() ? part : ", " + part;
  }
  row[analysis::kAddressColumn] = Sanitized(address);
  row[analysis::kCityColumn] = Sanitized(data.Locality);
  row[analysis::kPhoneColumn] =
      data.Phones.empty() ? std::string() : Sanitized(data.Phones.front());
  row[analysis::kWhatsAppColumn] =
      data.WhatsApp.empty() ? std::string()
                            : Sanitized(std::string(analysis::kWhatsAppPrefix) + data.WhatsApp);
  row[analysis::kTelegramColumn] =
      data.Telegram.empty() ? std::string()
                            : Sanitized(std::string(analysis::kTelegramPrefix) + data.Telegram);
  row[analysis::kMaxProfileColumn] = Sanitized(data.Max);
  std::string_view site = CutBefore(data.WebSite, '?');
  if (data.WebSiteViaRedirect) {
    site = CutBefore(site, '&');
  }
  row[analysis::kWebSiteColumn] = Sanitized(site);
  const auto social = [&](std::string_view target) {
    return data.SocialViaRedirect ? Sanitized(CutBefore(CutBefore(target, '?'), '&'))
                                  : std::string();
  };
  row[analysis::kVkGroupColumn] = social(data.Vk);
  row[analysis::kTelegramSocialColumn] = social(data.Tg);
  return row;
}

std::string ExpectedCategoryName(const ListingPageData& data) {
  if (!data.HasStructuredData) {
    return data.Breadcrumb;
  }
  std::string name;
  for (std::size_t i = 0; i < data.StructuredNames.size() && i < 3; ++i) {
    if (i > 0) {
      name += '>';
    }
    name += data.StructuredNames[i];
  }
  return name;
}

OrganizationPageData SampleOrganization(std::uint32_t index) {
  static constexpr std::array<std::string_view, 6> kKinds = {"ООО",   "ИП",      "Студия",
                                                             "Центр", "Клиника", "Салон"};
  static constexpr std::array<std::string_view, 6> kNames = {
      "Ромашка", "Северный ветер", "Альфа", "Мастер & Ко", "Уют", "Добрый доктор"};
  static constexpr std::array<std::string_view, 5> kCities = {"Москва", "Санкт-Петербург", "Казань",
                                                              "Новосибирск", "Екатеринбург"};
  static constexpr std::array<std::string_view, 5> kStreets = {
      "ул. Ленина", "пр-т Мира", "ул. Садовая", "Тверская ул.", "наб. Фонтанки"};

  const std::string number = std::to_string(index);
  OrganizationPageData data;
  data.Id = std::to_string(1000000 + index);
  // Every third name is quoted, which the row shows with apostrophes.
  const std::string name(kNames[index % kNames.size()]);
  data.Name = std::string(kKinds[index % kKinds.size()]) + " " +
              (index % 3 == 0 ? "\"" + name + "\"" : name) + " " + number;
  data.Locality = std::string(kCities[index % kCities.size()]);
  data.AddressParts = {data.Locality, std::string(kStreets[index % kStreets.size()]) + ", " +
                                          std::to_string(1 + index % 120)};
  if (index % 4 == 1) {
    data.AddressParts.push_back("офис " + std::to_string(10 + index % 90));
  }
  if (index % 5 != 4) {
    data.Phones = {"+7 (495) " + std::to_string(100 + index % 900) + "-45-67",
                   "+7 (900) 000-00-" + std::to_string(10 + index % 90)};
  }
  if (index % 2 == 0) {
    data.WhatsApp = "7900" + std::to_string(1000000 + index);
  }
  if (index % 3 != 2) {
    data.Telegram = "org_" + number;
  }
  if (index % 4 == 0) {
    data.Max = "id" + std::to_string(500000 + index);
  }
  if (index % 6 != 5) {
    data.WebSite = "https://org-" + number + ".example.ru/" +
                   (index % 2 == 0 ? "?utm_source=mirava&ref=" + number : std::string());
    data.WebSiteViaRedirect = index % 3 != 1;
  }
  if (index % 3 != 0) {
    data.Vk = "https://vk.com/club" + std::to_string(200000 + index) + "?from=mirava";
    data.Tg = index % 2 == 0 ? "https://t.me/channel_" + number : std::string();
    data.SocialViaRedirect = index % 7 != 3;
  }
  return data;
}

}  // namespace mirava::testing
