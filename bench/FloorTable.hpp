#pragma once
// `norvo-bench --floor`: each figure of the render path's floor beside its reference,
// measured in one run, printed as one table.
namespace norvo::bench {

// A cold start against a fresh WebKit process loading an empty page: medians of interleaved starts.
struct ColdStarts {
    double emptyPageMs = 0;
    double storyCardMs = 0;  // `norvo render` of one story card, exec to exit
    double selfTestMs = 0;
};

void printFloorTable(const ColdStarts& cold, int runs);

}  // namespace norvo::bench
