#pragma once
// The run's account of the pages its readers recognised, and the alarm when the site stops
// looking like the directory: a check page ("are you a robot?") served with status 200, or pages
// whose markup changed, are read without error but give nothing, and a run that went on would
// write empty rows or find nothing. Coordinator thread only.
#include <cstdint>
#include <optional>
#include <string>

namespace mirava::engine {

class RecognitionWatch {
 public:
  // `limit` unrecognised pages in a row raise the alarm; 0 never does.
  explicit RecognitionWatch(int limit);

  // Counts one harvested page. `fetched_as_organization`: its address was queued from a
  // listing's card. Returns the alarm's text when this page makes `limit` unrecognised pages in
  // a row, or `limit` of its kind in a row (a redesign of the organization pages alone shows
  // between listings that are still recognised); the counts then start afresh, so a run the
  // operator lets go on holds again only after as many more.
  std::optional<std::string> Count(bool recognised, bool fetched_as_organization,
                                   const std::string& url);

  long long Recognised() const { return recognised_; }
  long long Unrecognised() const { return unrecognised_; }

 private:
  void StartAfresh();

  int limit_;
  int in_a_row_ = 0;
  int organizations_in_a_row_ = 0;  // of in_a_row_, those queued as organization pages
  // Unrecognised pages of one kind since the last recognised page of that kind.
  int organization_row_ = 0;
  int listing_row_ = 0;
  long long recognised_ = 0;
  long long unrecognised_ = 0;
};

// The alarm's text: how many pages in a row, what they were fetched as, the last address.
std::string UnrecognisedPagesText(int in_a_row, int organizations, const std::string& last_url);

}  // namespace mirava::engine
