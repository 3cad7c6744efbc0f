# The damage survey: how check and salvage fare on damaged copies of a
# writer's file (bench/damage_survey.cpp; figures in BENCHMARKS.md).
add_executable(damage_survey ${PROJECT_SOURCE_DIR}/bench/damage_survey.cpp)
target_include_directories(damage_survey PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(damage_survey PRIVATE cijobresults cijobresults_warnings)
