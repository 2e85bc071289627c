#include "run/RunAssembly.h"


namespace harvix {

RunPlaces PlacesOfRun(const RunChoice& choice, bool fileList) {
    return PlacesOf(choice.search.SearchSystem, choice.search.Folder, choice.paths, choice.search.SubFolders,
                    choice.search.Mask, fileList);
}

RunAssembly::RunAssembly(const RunChoice& choice, IRunView& view, IPrompt& prompt,
                         const RunServices& services)
    : m_choice(choice), m_fileList(services.fileList) {
    buildEngine(services, prompt);
    buildRun(view, prompt, services.clock);
}

RunAssembly::RunAssembly(const RunChoice& choice, IRunView& window, IPrompt& windowPrompt,
                         RunHandOff::Post post, const RunServices& services)
    : m_choice(choice), m_fileList(services.fileList) {
    const auto worker = post ? RunHandOff::Worker::OwnThread : RunHandOff::Worker::Inline;
    m_handOff = std::make_unique<RunHandOff>(window, windowPrompt, std::move(post), worker);
    buildEngine(services, m_handOff->Prompt());
    buildRun(m_handOff->View(), m_handOff->Prompt(), services.clock);
    SearchRun* searchRun = m_run.get();
    m_handOff->setCancelHandler([searchRun] { searchRun->cmdCancel_Click(kSearchPage); });
}

RunAssembly::~RunAssembly() {
    if (m_handOff)
        m_handOff->Close();
}

void RunAssembly::buildEngine(const RunServices& services, IPrompt& prompt) {
    // Modules are read ahead on other threads; the engine prepares the files on the
    // run's thread.
    const RunPlaces places = PlacesOfRun(m_choice, m_fileList != nullptr);
    ModuleOpener opener = services.handed ? services.handed->Opener(m_choice.satellites, places)
                                          : SatelliteOpener(m_choice.satellites, places);
    // The files the user named are opened when they are containers, whatever the masks.
    for (const std::string& path : m_choice.paths)
        m_choice.containers.named.push_back(path);
    PrepareContainerReading(m_choice.containers);
    // Members of containers are opened from the bytes the container search hands over.
    if (m_choice.containers.active())
        opener = MemberOpener(m_members, std::move(opener));
    m_readAhead = std::make_unique<ModuleReadAhead>(ReadAheadLimits(m_choice.readers), std::move(opener));
    if (m_fileList && !services.handed)
        m_listBinding.emplace(*m_fileList);
    IRunSearch& files = m_listBinding ? static_cast<IRunSearch&>(*m_listBinding) : services.walk;
    m_source = std::make_unique<ReadAheadSearch>(files, *m_readAhead);
    // Containers are read on the run's thread, outside the read-ahead: the files found
    // are read ahead as before, and each member waits for the engine alone.
    if (m_choice.containers.active()) {
        m_containers = std::make_unique<ContainerSearch>(*m_source, m_choice.containers, m_members,
                                                         services.containerObserver);
        if (services.handed != nullptr)
            m_containers->OpenSourcesWith(
                [handed = services.handed](const std::string& path) { return handed->Source(path); });
    }
    m_engine = std::make_unique<mResCore>(
        m_choice.options, prompt, services.fileSystem,
        [readAhead = m_readAhead.get()](const std::string& path) { return readAhead->Open(path); });
    // Files are written behind the engine, on a thread of their own, while it prepares
    // the next resources.
    m_engine->WriteOnOwnThread();
    // The descriptors of a file are let go once the engine has read it.
    if (services.handed)
        m_engine->AddObserver(*services.handed);
    for (IExtractObserver* observer : services.observers)
        if (observer != nullptr)
            m_engine->AddObserver(*observer);
}

void RunAssembly::buildRun(IRunView& view, IPrompt& prompt, IRunClock& clock) {
    m_run = std::make_unique<SearchRun>(view, prompt, runSearch(), *m_engine, clock);
    m_run->Stats().FillStatsList(m_choice.options.kindEnabled);
}

IRunSearch& RunAssembly::runSearch() {
    if (m_containers)
        return *m_containers;
    return *m_source;
}

void RunAssembly::Start() {
    SearchSettings search = m_choice.search;
    // A list that is a regular file is counted first, so that the progress moves by
    // names; one read from a pipe cannot be read twice.
    if (m_fileList)
        search.SubFolders = m_fileList->CanCount();
    SearchRun* searchRun = m_run.get();
    if (m_handOff)
        m_handOff->Start([searchRun, search] { searchRun->StartSearch(search); });
    else
        m_run->StartSearch(search);
}

} // namespace harvix
