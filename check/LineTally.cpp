#include "LineTally.h"

void LineTally::add(const Exchange &exchange)
{
    switch (exchange.outcome) {
    case Exchange::Outcome::Ok: {
        ++exchanges_;
        const double seconds = exchange.responseMs / 1000.0;
        sumSeconds_ += seconds;
        for (std::size_t i = 0; i < kBucketBounds.size(); ++i) {
            if (seconds <= kBucketBounds[i])
                ++buckets_[i];
        }
        lastExchangeAt_ = double(exchange.at.toMSecsSinceEpoch()) / 1000.0;
        break;
    }
    case Exchange::Outcome::Error:
        ++errors_;
        break;
    case Exchange::Outcome::Lost:
    case Exchange::Outcome::Unanswered:
        ++lost_;
        break;
    case Exchange::Outcome::Late:
        ++late_;
        break;
    }
}
